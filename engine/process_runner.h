// Running an installer and waiting for it: the InstallStep's own Install.
#pragma once

#include <cstdint>

class InstallStep;

// Runs step.commandLine without a window. 1 on success (exit code 0 or 3010),
// 9060 when it cannot start, 9064 when abandoned, else the exit code.
int RunInstaller(InstallStep& step);

// Whether a process with this id exists, or with match_parent, a process whose
// parent has this id; processes named `ignored_name` (any case) do not count.
bool IsProcessRunning(uint32_t id, bool match_parent, const char* ignored_name = nullptr);
