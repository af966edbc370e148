#include "ui/progress_flow.h"

#include "diagnostics/event_catalog.h"
#include "diagnostics/event_sink.h"
#include "engine/pipeline_signals.h"
#include "ui/resource_ids.h"
#include "ui/window_host.h"

namespace ui {

void ProgressFlow::OnCancelRequest(int command) {
  host_.Events().Post(command == IDC_PROGRESS_CANCEL ? diagnostics::kProgressCancelClicked
                                                     : diagnostics::kProgressCloseBoxClicked);
  engine::PipelineSignals& signals = host_.Signals();
  if (signals.abortFlag.load()) {
    // The installation is already being abandoned: nothing left to confirm.
    controls_.Close();
    return;
  }
  if (confirmation_open_) return;
  confirmation_open_ = true;
  controls_.EnableCancel(false);
  if (!controls_.ConfirmAbort()) {
    confirmation_open_ = false;
    controls_.EnableCancel(true);
    return;
  }
  cancelling_ = true;
  controls_.SetStatusLine(kCancellingText);
  controls_.EnableCancel(false);
  controls_.ShowCancel(false);
  controls_.HideCaptionAndPercent();
  AbortInstallation(signals);
  host_.SetCancelSurveyFlag();
  host_.KillChildProcesses();
  // Hidden, but enabled again so a later close request still reaches us.
  controls_.EnableCancel(true);
}

void ProgressFlow::ShowPercent(int percent) {
  // A download round that ends after the cancel still reports: the bar may
  // move, but the percentage text stays hidden under "Cancelling...".
  controls_.SetPercent(percent, PercentText(percent), !cancelling_);
}

std::string PercentText(int percent) { return std::to_string(percent) + "% Complete"; }

}  // namespace ui
