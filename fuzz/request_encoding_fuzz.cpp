// The encoding of a report's object name: what goes on the request line has
// no control byte, no space and nothing above 0x7E, every '%' starts an
// escape of two upper-case hex digits, and decoding it gives the record back
// byte for byte.
#include "diagnostics/event_record.h"
#include "diagnostics/request_encoding.h"
#include "fuzz/fuzz_support.h"

namespace {

bool UpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string record(reinterpret_cast<const char*>(data), size);
  const std::string encoded = diagnostics::EncodeRequestTarget(record);
  for (size_t i = 0; i < encoded.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(encoded[i]);
    FUZZ_CHECK(byte > 0x20 && byte < 0x7F);
    if (byte == '%') {
      FUZZ_CHECK(i + 2 < encoded.size() && UpperHex(encoded[i + 1]) && UpperHex(encoded[i + 2]));
    }
  }
  FUZZ_CHECK(diagnostics::DecodeRequestTarget(encoded) == record);
  // The way the sender builds it: the token and the record in one target.
  const std::string target = diagnostics::DecodeRequestTarget(
      diagnostics::FormatReportTarget("0f8fad5b-d9cb-469f-a165-70867728950e", record));
  FUZZ_CHECK(target.size() > record.size() &&
             target.compare(target.size() - record.size(), record.size(), record) == 0);
  return 0;
}
