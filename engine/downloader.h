// The installer download: the InstallStep's own Download.
#pragma once

class InstallStep;

// Fetches step.url into step.localPath. 1 on success, otherwise the event
// posted: 9058, 9061, 9052, 9062 or 9065.
int DownloadFile(InstallStep& step);
