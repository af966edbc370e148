#include "diagnostics/event_record.h"

#include "diagnostics/event_record_fields.h"
#include "diagnostics/request_encoding.h"

namespace diagnostics {

namespace {

// NAME='value' and what follows it. A value is taken as a C string: an error
// text read from a file may hold a NUL, which would end the line in the log
// file and make the report none.
void AppendField(const char* name, const std::string& value, const char* after, std::string* out) {
  out->append(name).append("='").append(value.c_str()).append("'").append(after);
}

}  // namespace

std::string FormatEventRecord(const EventRecord& record) {
  std::string line;
  if (record.agent) {
    AppendField(kAgentField, *record.agent, ",", &line);
  } else if (record.watermark) {
    AppendField(kWatermarkField, *record.watermark, ",", &line);
  }
  AppendField(kEventIdField, std::to_string(record.event_id), ",", &line);
  AppendField(kDescriptionField, record.description, ",", &line);
  AppendField(kTimestampField, record.timestamp, "", &line);
  return line;
}

std::string FormatReportTarget(const std::string& token, const std::string& record_line) {
  std::string object = "?";
  AppendField(kTokenField, token, ",", &object);
  return EncodeRequestTarget(object.append(record_line));
}

std::string FormatTimestamp() { return FormatTimestamp(platform::UtcNow()); }

std::string FormatTimestamp(const platform::UtcTime& time) {
  // "%02d-%02d-%02d %02d:%02d:%02d.%03d" into 24 bytes, without the printf
  // family, which would add its own formatting engine to the stub.
  struct Part {
    int value;
    size_t width;
    char after;
  };
  const Part parts[] = {{time.year, 2, '-'},        {time.month, 2, '-'},  {time.day, 2, ' '},
                        {time.hour, 2, ':'},        {time.minute, 2, ':'}, {time.second, 2, '.'},
                        {time.millisecond, 3, '\0'}};
  std::string text;
  for (const Part& part : parts) {
    const std::string digits = std::to_string(part.value);
    if (digits.size() < part.width) text.append(part.width - digits.size(), '0');
    text.append(digits);
    if (part.after) text += part.after;
  }
  return text.substr(0, 23);
}

}  // namespace diagnostics
