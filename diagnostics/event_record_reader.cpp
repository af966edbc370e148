// The event record's reader, apart from its writer: the stub writes records
// and never reads one, so it never links this file.
#include "diagnostics/event_record.h"
#include "diagnostics/event_record_fields.h"
#include "diagnostics/request_encoding.h"

namespace diagnostics {

namespace {

// The longest token a report may carry; the sender's is 36 characters.
constexpr size_t kMostTokenBytes = 64;

std::string Opening(const char* name) { return std::string(name) + "='"; }
std::string Between(const char* name) { return "'," + Opening(name); }

bool StartsWith(const std::string& text, size_t at, const std::string& prefix) {
  return text.compare(at, prefix.size(), prefix) == 0;
}

bool ParseEventId(const std::string& text, EventId* id) {
  if (text.empty() || text.size() > 11) return false;
  size_t at = text[0] == '-' ? 1 : 0;
  if (at == text.size()) return false;
  int64_t value = 0;
  for (; at < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9') return false;
    value = value * 10 + (text[at] - '0');
  }
  if (text[0] == '-') value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return false;
  *id = static_cast<EventId>(value);
  return true;
}

// The fields that follow the token, from `at` to the end of `text`.
std::optional<EventRecord> ParseFields(const std::string& text, size_t at, EventRecord record) {
  // The one optional field sits before the id.
  const std::string id_between = Between(kEventIdField);
  for (const char* name : {kAgentField, kWatermarkField}) {
    if (!StartsWith(text, at, Opening(name))) continue;
    at += Opening(name).size();
    const size_t end = text.find(id_between, at);
    if (end == std::string::npos) return std::nullopt;
    (name == kAgentField ? record.agent : record.watermark) = text.substr(at, end - at);
    at = end + 2;
    break;
  }

  if (!StartsWith(text, at, Opening(kEventIdField))) return std::nullopt;
  at += Opening(kEventIdField).size();
  size_t end = text.find(Between(kDescriptionField), at);
  if (end == std::string::npos || !ParseEventId(text.substr(at, end - at), &record.event_id)) {
    return std::nullopt;
  }
  at = end + Between(kDescriptionField).size();

  // The timestamp is last and holds no apostrophe, so the last opening of it
  // is the real one, whatever the description holds.
  const std::string time_between = Between(kTimestampField);
  end = text.rfind(time_between);
  if (end == std::string::npos || end < at) return std::nullopt;
  record.description = text.substr(at, end - at);
  at = end + time_between.size();
  if (text.size() < at + 1 || text.back() != '\'') return std::nullopt;
  record.timestamp = text.substr(at, text.size() - 1 - at);
  if (!TimestampMs(record.timestamp)) return std::nullopt;
  return record;
}

bool Digits(const std::string& text, size_t at, size_t count, int* value) {
  *value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    *value = *value * 10 + (text[i] - '0');
  }
  return true;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

bool operator==(const EventRecord& a, const EventRecord& b) {
  return a.token == b.token && a.agent == b.agent && a.watermark == b.watermark &&
         a.event_id == b.event_id && a.description == b.description && a.timestamp == b.timestamp;
}

std::optional<EventRecord> ParseEventRecord(const std::string& line) {
  if (line.find('\0') != std::string::npos) return std::nullopt;
  return ParseFields(line, 0, EventRecord());
}

std::optional<EventRecord> ParseReportTarget(const std::string& target) {
  const std::string object = DecodeRequestTarget(target);
  if (object.find('\0') != std::string::npos) return std::nullopt;
  size_t at = StartsWith(object, 0, "/") ? 1 : 0;
  if (!StartsWith(object, at, "?" + Opening(kTokenField))) return std::nullopt;
  at += 1 + Opening(kTokenField).size();

  EventRecord record;
  const size_t end = object.find("',", at);
  if (end == std::string::npos || end == at || end - at > kMostTokenBytes) return std::nullopt;
  record.token = object.substr(at, end - at);
  for (unsigned char c : record.token) {
    if (c <= 0x20 || c >= 0x7F) return std::nullopt;
  }
  return ParseFields(object, end + 2, std::move(record));
}

std::optional<int64_t> TimestampMs(const std::string& text) {
  // YYYY-MM-DD hh:mm:ss.mmm
  if (text.size() != 23 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':' || text[19] != '.') {
    return std::nullopt;
  }
  int year, month, day, hour, minute, second, millisecond;
  if (!Digits(text, 0, 4, &year) || !Digits(text, 5, 2, &month) || !Digits(text, 8, 2, &day) ||
      !Digits(text, 11, 2, &hour) || !Digits(text, 14, 2, &minute) ||
      !Digits(text, 17, 2, &second) || !Digits(text, 20, 3, &millisecond)) {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return std::nullopt;
  }
  const int64_t seconds =
      DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return seconds * 1000 + millisecond;
}

}  // namespace diagnostics
