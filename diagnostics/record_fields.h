// The field names of an event record and of the report that carries it. A
// field travels as NAME='value', fields joined by commas: TOKEN first (the
// report's), then AGENT (7003) or WATERMARK (3021), EVENTID, DESC, TIMESTAMP.
// The log server reads them back by the same names.
#pragma once

namespace record_fields {
constexpr char kToken[] = "TOKEN";
constexpr char kAgent[] = "AGENT";
constexpr char kWatermark[] = "WATERMARK";
constexpr char kEventId[] = "EVENTID";
constexpr char kDescription[] = "DESC";
constexpr char kTimestamp[] = "TIMESTAMP";
}  // namespace record_fields
