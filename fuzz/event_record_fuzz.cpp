// The event record both ways. A record made from the input as a sender makes
// one, formatted, reads back as itself, as a log line and as a report; an
// input the reader takes, as a line or as a report's target, formats back to
// the same bytes. Timestamps agree with the C library's calendar.
//
// What senders make, to which the properties are held:
// - a value is a C string: it ends at its first NUL;
// - an AGENT or WATERMARK value holds no apostrophe (an agent id is a GUID or
//   "?", a watermark a GUID; `bootpack lint` reports any other), and a token
//   is 1 to 64 bytes from '!' to '~' with no apostrophe (the run's UUID text,
//   or "bootpack-check"): values are not escaped, so one that held the
//   separator after it would end there;
// - a clock reads a year from 1000 to 9999, the years written in four digits
//   (Windows' clock starts at 1601);
// - an id is written by std::to_string: the reader also takes "007" and
//   "-0", which format back as "7" and "0".
#include <fuzzer/FuzzedDataProvider.h>

#include <ctime>

#include "diagnostics/event_record.h"
#include "diagnostics/request_encoding.h"
#include "fuzz/fuzz_support.h"

namespace {

// 1000-01-01 and 9999-12-31 23:59:59.999, in milliseconds since 1970.
constexpr int64_t kFirstMs = -30610224000000;
constexpr int64_t kLastMs = 253402300799999;

std::string UpToNul(const std::string& text) { return text.substr(0, text.find('\0')); }

bool Apostrophe(const std::optional<std::string>& value) {
  return value && value->find('\'') != std::string::npos;
}

// The calendar of the C library: the moment's text as the logger writes it.
std::string TextOf(int64_t ms) {
  const int64_t remainder = ((ms % 1000) + 1000) % 1000;
  const std::time_t seconds = static_cast<std::time_t>((ms - remainder) / 1000);
  std::tm parts;
  FUZZ_CHECK(gmtime_r(&seconds, &parts));
  return diagnostics::FormatTimestamp({parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                                       parts.tm_hour, parts.tm_min, parts.tm_sec,
                                       static_cast<int>(remainder)});
}

// Two texts of one record, alike but for the digits of the id.
bool SameButTheId(const std::string& a, const std::string& b) {
  size_t head = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
  size_t tail = 0;
  while (tail < a.size() - head && tail < b.size() - head &&
         a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
    ++tail;
  }
  for (const std::string* text : {&a, &b}) {
    for (size_t i = head; i < text->size() - tail; ++i) {
      if (((*text)[i] < '0' || (*text)[i] > '9') && (*text)[i] != '-') return false;
    }
  }
  return true;
}

// A record as a sender makes one, from the input.
void CheckMadeRecord(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  diagnostics::EventRecord made;
  made.token = input.ConsumeRandomLengthString(80);
  const int leading = input.ConsumeIntegralInRange(0, 2);
  if (leading == 1) made.agent = input.ConsumeRandomLengthString(64);
  if (leading == 2) made.watermark = input.ConsumeRandomLengthString(64);
  made.event_id = input.ConsumeIntegral<diagnostics::EventId>();
  const int64_t ms = input.ConsumeIntegralInRange(kFirstMs, kLastMs);
  made.timestamp = TextOf(ms);
  made.description = input.ConsumeRemainingBytesAsString();
  FUZZ_CHECK(diagnostics::TimestampMs(made.timestamp) == ms);

  diagnostics::EventRecord expected = made;
  if (made.agent) expected.agent = UpToNul(*made.agent);
  if (made.watermark) expected.watermark = UpToNul(*made.watermark);
  expected.description = UpToNul(made.description);
  if (Apostrophe(expected.agent) || Apostrophe(expected.watermark)) return;

  const std::string line = FormatEventRecord(made);
  std::optional<diagnostics::EventRecord> read = diagnostics::ParseEventRecord(line);
  FUZZ_CHECK(read);
  read->token = expected.token;
  FUZZ_CHECK(*read == expected);

  const std::string& token = made.token;
  if (token.empty() || token.size() > 64 || token.find('\'') != std::string::npos) return;
  for (unsigned char c : token) {
    if (c <= 0x20 || c >= 0x7F) return;
  }
  read = diagnostics::ParseReportTarget("/" + diagnostics::FormatReportTarget(token, line));
  FUZZ_CHECK(read && *read == expected);
}

// The input as a line and as a report's target, as the reader takes them.
void CheckReadRecord(const std::string& text) {
  if (std::optional<diagnostics::EventRecord> read = diagnostics::ParseEventRecord(text)) {
    const std::string line = FormatEventRecord(*read);
    FUZZ_CHECK(line == text || (line.size() < text.size() && SameButTheId(line, text)));
    std::optional<diagnostics::EventRecord> again = diagnostics::ParseEventRecord(line);
    FUZZ_CHECK(again && *again == *read);
    const std::optional<int64_t> ms = diagnostics::TimestampMs(read->timestamp);
    FUZZ_CHECK(ms);
    if (read->timestamp[0] != '0') FUZZ_CHECK(TextOf(*ms) == read->timestamp);
  }
  if (std::optional<diagnostics::EventRecord> read = diagnostics::ParseReportTarget(text)) {
    // The sender's encoding is one of many that decode alike.
    std::string sent = diagnostics::DecodeRequestTarget(text);
    if (sent[0] == '/') sent.erase(0, 1);
    const std::string target =
        diagnostics::FormatReportTarget(read->token, FormatEventRecord(*read));
    const std::string formatted = diagnostics::DecodeRequestTarget(target);
    FUZZ_CHECK(formatted == sent ||
               (formatted.size() < sent.size() && SameButTheId(formatted, sent)));
    std::optional<diagnostics::EventRecord> again = diagnostics::ParseReportTarget(target);
    FUZZ_CHECK(again && *again == *read);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckMadeRecord(data, size);
  CheckReadRecord(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
