#include "diagnostics/event_catalog.h"

#include "diagnostics/code_texts.h"
#include "diagnostics/error_texts.h"

namespace diagnostics {

namespace EventCatalog {

namespace {

constexpr CodeText kEvents[] = {
#define KESTREL_EVENT(name, id, text) {id, text},
#include "diagnostics/event_table.h"
#undef KESTREL_EVENT
};
static_assert(CodesRise(kEvents), "the event table must be sorted by number, each number once");

}  // namespace

std::string Describe(EventId id) {
  const CodeText* event = FindCode(kEvents, id);
  if (!event) return "Event Not defined.";
  // The error events: whatever the last SetLastErrorText stored; the prefix
  // is not checked.
  return event->text ? event->text : LastErrorText();
}

}  // namespace EventCatalog

}  // namespace diagnostics
