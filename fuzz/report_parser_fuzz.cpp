// The log server's reading of a request line: normalizing never fails and
// leaves one request target without blanks or a second query mark; a record
// read from it is read the same from both forms a sender may use.
#include "diagnostics/request_encoding.h"
#include "fuzz/fuzz_support.h"
#include "tools/collector/report_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  // The input as a whole request line.
  const std::string line = collector::NormalizeRequestLine(input);
  if (line != input) {
    const size_t first = line.find(' ');
    const size_t last = line.rfind(' ');
    FUZZ_CHECK(first != std::string::npos && first < last);
    const std::string target = line.substr(first + 1, last - first - 1);
    FUZZ_CHECK(target.find(' ') == std::string::npos);
    FUZZ_CHECK(target.find('?') == target.rfind('?'));
    FUZZ_CHECK(collector::NormalizeRequestLine(line) == line);
  }

  // The input as a record after the token: sent encoded and sent raw.
  const std::string token = "0f8fad5b-d9cb-469f-a165-70867728950e";
  std::optional<diagnostics::EventRecord> direct = diagnostics::ParseEventRecord(input);
  if (direct) {
    FUZZ_CHECK(diagnostics::TimestampMs(direct->timestamp).has_value());
    direct->token = token;
  }
  const std::string encoded = "/" + diagnostics::FormatReportTarget(token, input);
  const std::string forms[] = {"GET " + encoded + " HTTP/1.1",
                               "GET " + diagnostics::DecodeRequestTarget(encoded) + " HTTP/1.1"};
  for (const std::string& sent : forms) {
    // Raw, a record without a blank reads as encoded, so its "%HH" would be
    // decoded: that form alone is ambiguous, by design of the old senders.
    const bool raw = &sent == &forms[1];
    if (raw && input.find(' ') == std::string::npos) continue;
    const std::string normal = collector::NormalizeRequestLine(sent);
    const size_t first = normal.find(' ');
    const size_t last = normal.rfind(' ');
    FUZZ_CHECK(first != last);
    std::optional<diagnostics::EventRecord> read =
        diagnostics::ParseReportTarget(normal.substr(first + 1, last - first - 1));
    FUZZ_CHECK(read.has_value() == direct.has_value());
    if (read) FUZZ_CHECK(*read == *direct);
  }
  return 0;
}
