#include "engine/pipeline_signals.h"

#include "platform/http.h"

PipelineSignals& GlobalPipelineSignals() {
  static PipelineSignals signals;
  return signals;
}

void AbortInstallation(PipelineSignals& signals) {
  // exchange makes the release happen once even when a pipeline thread and the
  // window abandon the installation at the same moment.
  if (signals.abortFlag.exchange(1) == 0) signals.abortSignal.Release();
  platform::LockGuard guard(signals.transferLock);
  if (signals.transfer) signals.transfer->Cancel();
}
