// The launcher-output parser over a file that grows while it is read: the
// first two bytes choose where the text is cut, the third the tracked name.
// The first part is read as while the launcher runs, then the rest is
// appended and read as the last read. The outcome must be that of one last
// read of the whole text.
#include <string>
#include <vector>

#include "components/launcher_output.h"
#include "fuzz/fuzz_support.h"

namespace {

struct ErrorLine {
  std::string msg;
  int32_t code;
  bool operator==(const ErrorLine& other) const { return msg == other.msg && code == other.code; }
};

bool SameOutput(const components::LauncherOutput& a, const components::LauncherOutput& b) {
  return a.webServicesPercent == b.webServicesPercent && a.adEnginePercent == b.adEnginePercent &&
         a.deskPercent == b.deskPercent && a.trackedPercent == b.trackedPercent &&
         a.readOffset == b.readOffset;
}

bool IsPercent(int32_t value) { return value >= 0 && value <= 100; }

const char* const kTrackedNames[] = {"Content", "", components::kDeskApplication,
                                     components::kAdEngineApplication, "Parlor_Game"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::ScratchPath("BrindleAgentLauncherOutput.txt");
  if (size < 3) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 3, size - 3);
  const size_t cut =
      (static_cast<size_t>(data[0]) | (static_cast<size_t>(data[1]) << 8)) % (text.size() + 1);
  const std::string tracked =
      kTrackedNames[data[2] % (sizeof(kTrackedNames) / sizeof(*kTrackedNames))];

  // The file as the command interpreter leaves it: created empty, then
  // written while the step holds it open for reading.
  fuzz::WriteScratchFile(path, nullptr, 0);
  std::FILE* file = std::fopen(path.c_str(), "rb");
  FUZZ_CHECK(file);

  std::vector<ErrorLine> split_errors;
  components::LauncherErrorHandler on_split_error = [&](const std::string& msg, int32_t code) {
    split_errors.push_back({msg, code});
  };
  components::LauncherOutput split;
  ParseLauncherOutput(&split, file, tracked, on_split_error);
  FUZZ_CHECK(split.readOffset == 0);
  fuzz::WriteScratchFile(path, reinterpret_cast<const uint8_t*>(text.data()), cut);
  ParseLauncherOutput(&split, file, tracked, on_split_error);
  FUZZ_CHECK(split.readOffset <= cut);
  fuzz::WriteScratchFile(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  ParseLauncherOutput(&split, file, tracked, on_split_error, true);
  std::fclose(file);

  std::vector<ErrorLine> whole_errors;
  components::LauncherOutput whole;
  ApplyLauncherText(
      &whole, text, tracked,
      [&](const std::string& msg, int32_t code) {
        whole_errors.push_back({msg, code});
      },
      true);

  FUZZ_CHECK(whole.readOffset == text.size());
  FUZZ_CHECK(SameOutput(split, whole));
  FUZZ_CHECK(split_errors == whole_errors);
  FUZZ_CHECK(IsPercent(whole.webServicesPercent) && IsPercent(whole.adEnginePercent) &&
             IsPercent(whole.deskPercent) && IsPercent(whole.trackedPercent));
  const double progress = ComputeLaunchProgress(whole, 1.0, 0.0);
  FUZZ_CHECK(progress >= 0.0 && progress <= 1.0 + 1e-9);
  return 0;
}
