// The InstallWorker: builds the queue of steps, tells the splash they are
// ready, checks the disk, writes the cookie file and runs the pipeline.
#pragma once

namespace components {

struct InstallSession;

// Thread procedure; `arg` is the InstallSession, complete before the start.
void InstallWorker(void* arg);
// The same on the calling thread (tests).
void RunInstallWorker(InstallSession& session);

}  // namespace components
