// The encoding of a report's object name: what goes on the request line has
// no control byte, no space and nothing above 0x7E, and decoding it gives the
// record back byte for byte.
#include "diagnostics/request_encoding.h"
#include "fuzz/fuzz_support.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // the encoder writes upper-case digits only
}

// Strict: every '%' must start an escape of two upper-case hex digits.
std::string Decode(const std::string& encoded) {
  std::string out;
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '%') {
      out += encoded[i];
      continue;
    }
    FUZZ_CHECK(i + 2 < encoded.size());
    const int high = HexValue(encoded[i + 1]);
    const int low = HexValue(encoded[i + 2]);
    FUZZ_CHECK(high >= 0 && low >= 0);
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string record(reinterpret_cast<const char*>(data), size);
  const std::string encoded = EncodeRequestTarget(record);
  for (char c : encoded) {
    const unsigned char byte = static_cast<unsigned char>(c);
    FUZZ_CHECK(byte > 0x20 && byte < 0x7F);
  }
  FUZZ_CHECK(Decode(encoded) == record);
  // The way the sender builds it: the token and the record in one target.
  const std::string target = "?TOKEN='0f8fad5b-d9cb-469f-a165-70867728950e'," + record;
  FUZZ_CHECK(Decode(EncodeRequestTarget(target)) == target);
  return 0;
}
