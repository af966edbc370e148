// The collector's reading of request heads off a connection: read at once or
// in the pieces a trickle brings (the first byte sets their size), a head
// gets the same decision; the reader never holds more than its bounds
// undecided; a head it takes has one request line of the encoded form.
#include "fuzz/fuzz_support.h"
#include "tools/collector/report_parser.h"
#include "tools/collector/request_head.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 16;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  // Small bounds, so that inputs reach them.
  collector::HeadLimits limits;
  limits.max_bytes = 512;
  limits.max_line_bytes = 256;
  limits.max_lines = 8;

  collector::HeadReader whole(limits);
  const collector::HeadReader::State at_once = whole.Read(input);
  collector::HeadReader trickle(limits);
  std::string buffer;
  collector::HeadReader::State state = collector::HeadReader::State::kPartial;
  for (size_t at = 0; at < input.size() && state == collector::HeadReader::State::kPartial;
       at += piece) {
    buffer += input.substr(at, piece);
    state = trickle.Read(buffer);
    if (state == collector::HeadReader::State::kPartial)
      FUZZ_CHECK(buffer.size() <= limits.max_bytes);
  }
  FUZZ_CHECK(state == at_once);
  if (state == collector::HeadReader::State::kRefused)
    FUZZ_CHECK(trickle.refusal() == whole.refusal());
  if (state == collector::HeadReader::State::kComplete) {
    const collector::RequestHead& head = trickle.head();
    FUZZ_CHECK(trickle.head_bytes() == whole.head_bytes());
    FUZZ_CHECK(trickle.head_bytes() <= limits.max_bytes && trickle.head_bytes() <= buffer.size());
    FUZZ_CHECK(head.method == whole.head().method && head.target == whole.head().target &&
               head.keep_alive == whole.head().keep_alive);
    FUZZ_CHECK(head.target.find(' ') == std::string::npos && !head.target.empty());
    FUZZ_CHECK(collector::IsRequestLine(head.method + " " + head.target + " HTTP/1.1"));
  }
  return 0;
}
