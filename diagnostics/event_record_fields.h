// The field names of the event record, for its writer and its reader
// (event_record.cpp, event_record_reader.cpp) only: everyone else calls the
// functions of event_record.h.
#pragma once

namespace diagnostics {

constexpr char kTokenField[] = "TOKEN";
constexpr char kAgentField[] = "AGENT";
constexpr char kWatermarkField[] = "WATERMARK";
constexpr char kEventIdField[] = "EVENTID";
constexpr char kDescriptionField[] = "DESC";
constexpr char kTimestampField[] = "TIMESTAMP";

}  // namespace diagnostics
