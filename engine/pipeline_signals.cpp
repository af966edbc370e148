#include "engine/pipeline_signals.h"

#include "platform/http.h"

namespace engine {

int PipelineThreads::WaitForEither(platform::Waitable& first, platform::Waitable& second,
                                   uint32_t* error) {
  return platform::WaitForEither(first, second, platform::kWaitForever, error);
}

bool PipelineThreads::Wait(platform::Waitable& object, uint32_t* error) {
  return object.Wait(platform::kWaitForever, error);
}

std::unique_ptr<platform::Thread> PipelineThreads::Start(platform::ThreadProc proc, void* arg,
                                                         uint32_t* error) {
  std::unique_ptr<platform::Thread> thread(new platform::Thread(proc, arg));
  *error = thread->start_error();
  if (!thread->started()) return nullptr;
  return thread;
}

PipelineThreads& SystemPipelineThreads() {
  static PipelineThreads* threads = new PipelineThreads;
  return *threads;
}

PipelineSignals& GlobalPipelineSignals() {
  // Never destroyed: the worker and its pipeline threads are not joined and
  // may still wait on these, or release them, while the process exits.
  static PipelineSignals* signals = new PipelineSignals;
  return *signals;
}

void AbortInstallation(PipelineSignals& signals) {
  // exchange makes the release happen once even when a pipeline thread and the
  // window abandon the installation at the same moment.
  if (signals.abortFlag.exchange(1) == 0) signals.abortSignal.Release();
  platform::LockGuard guard(signals.transfer_lock);
  if (signals.transfer) signals.transfer->Cancel();
}

}  // namespace engine
