// Where a run's events go: its logger in the product, a recording one in
// tests. The run context hands it down; nothing reaches for a process-wide one.
#pragma once

#include "diagnostics/event_catalog.h"

namespace diagnostics {

class EventSink {
 public:
  virtual ~EventSink() = default;
  // Builds the record in the calling thread and queues it; 9999 switches
  // reporting on instead. Never waits for the file or the network (7003 may
  // wait up to 3 s for the agent id). Safe from any thread.
  virtual void Post(EventId id) = 0;
};

}  // namespace diagnostics
