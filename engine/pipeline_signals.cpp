#include "engine/pipeline_signals.h"

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
}
