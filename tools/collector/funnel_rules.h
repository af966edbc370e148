// The funnel's rules: its rows (steps) in the order of a run, which events
// put a run in each, and which events tell of a failure. Every count of the
// funnel, kept as records arrive or summed from records at hand, follows them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "diagnostics/event_catalog.h"

namespace collector {

// One row of the funnel: the runs that posted any of `ids`; a failed row
// leaves out the runs that posted any of `unless` (a primary address that
// failed before the secondary one served the file). `after` names the row a
// run passes just before this one, from which its conversion is measured;
// none for the first row, what the checks found, and the ways out (failed,
// cancelled, declined, refused), which are counted but lead nowhere.
struct StepRule {
  const char* label;
  std::vector<diagnostics::EventId> ids;
  std::vector<diagnostics::EventId> unless;
  const char* after = nullptr;
};

const std::vector<StepRule>& StepRules();
// The index of the row StepRules()[step].after names, if any.
std::optional<size_t> StepBefore(size_t step);

// Whether the event tells of something that went wrong (a failed download
// or install, a launcher error, an error text, an exit on failure).
bool IsFailureEvent(diagnostics::EventId id);

// A run's events as a set of bits: the bit of each event a rule names, or 0
// for the others (which no row counts).
uint64_t EventBit(diagnostics::EventId id);
// The rows a run with these events counts in: bit i for StepRules()[i].
uint64_t StepsReached(uint64_t events);

}  // namespace collector
