// Where a test that does not look at its events sends them.
#pragma once

#include "diagnostics/event_sink.h"

class DiscardedEvents : public diagnostics::EventSink {
 public:
  void Post(diagnostics::EventId) override {}
};
