// `bootpack list` over arbitrary files, through the command's own function.
#include "fuzz/fuzz_support.h"
#include "tools/bootpack/entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::ScratchPath("input.exe");
  fuzz::WriteScratchFile(path, data, size);
  char* printed = nullptr;
  size_t printed_size = 0;
  std::FILE* out = open_memstream(&printed, &printed_size);
  FUZZ_CHECK(out);
  const int status = bootpack::ListCommand({path}, out, fuzz::NullOutput());
  std::fclose(out);
  const std::string listing(printed, printed_size);
  std::free(printed);
  // 0 listed, 1 no payload; the file is always readable here.
  FUZZ_CHECK(status == 0 || status == 1);
  FUZZ_CHECK((status == 1) == (listing == "no payload\n"));
  if (status == 0) FUZZ_CHECK(listing.find("\npayload: start ") != std::string::npos);
  return 0;
}
