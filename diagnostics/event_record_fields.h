// The field names of the event record, for its writer and its reader
// (event_record.cpp, event_record_reader.cpp) only: everyone else calls the
// functions of event_record.h.
#pragma once

namespace record_fields {
constexpr char kToken[] = "TOKEN";
constexpr char kAgent[] = "AGENT";
constexpr char kWatermark[] = "WATERMARK";
constexpr char kEventId[] = "EVENTID";
constexpr char kDescription[] = "DESC";
constexpr char kTimestamp[] = "TIMESTAMP";
}  // namespace record_fields
