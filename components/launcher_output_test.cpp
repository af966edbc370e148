#include "components/launcher_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/test_paths.h"

namespace components {

namespace {

using test_paths::ScratchFolder;
using test_paths::SourcePath;

struct ReportedError {
  std::string msg;
  int32_t code;
  int32_t desk_percent_then;  // the state at the moment the line was reported
};

struct Parsed {
  LauncherOutput output;
  std::vector<ReportedError> errors;
};

LauncherErrorHandler Recorder(Parsed* parsed) {
  return [parsed](const std::string& msg, int32_t code) {
    parsed->errors.push_back({msg, code, parsed->output.deskPercent});
  };
}

void Parse(Parsed* parsed, std::FILE* file, const std::string& tracked, bool last_read = false) {
  ParseLauncherOutput(&parsed->output, file, tracked, Recorder(parsed), last_read);
}

Parsed ParseFixture(const std::string& name, const std::string& tracked) {
  Parsed parsed;
  platform::UniqueFile file =
      platform::OpenFile(SourcePath("tests/fixtures/launcher_output/" + name), "rb");
  EXPECT_TRUE(file) << name;
  Parse(&parsed, file.get(), tracked, /*last_read=*/true);  // a finished output
  return parsed;
}

// One recorded output per file; the expected percentages after reading it whole.
struct FixtureCase {
  const char* file;
  const char* tracked;
  int32_t web, ad, desk, trackedPercent;
};

const FixtureCase kFixtureCases[] = {
    // 150 and -5 change nothing; 100 is still a percentage, 101 is not.
    {"percent_out_of_range.txt", "Game", 30, 0, 100, 0},
    // A lower or equal percentage than the application's last one is ignored.
    {"lower_percent_ignored.txt", "Game", 0, 75, 61, 0},
    // ApplicationWait and ApplicationStart with State "Finished" mean 100.
    {"finished_steps.txt", "Game", 100, 0, 100, 0},
    // Other states (case included), other steps and a missing State change nothing.
    {"other_state_ignored.txt", "Game", 0, 0, 0, 0},
    // A self-closing element has no text, which names no application...
    {"self_closing_current_step.txt", "Game", 0, 0, 0, 0},
    // ...unless the tracked name is empty as well.
    {"self_closing_current_step.txt", "", 0, 0, 0, 100},
    // A tag needs a blank after it: "<DownloadProgress>" is no tag.
    {"tag_without_blank.txt", "Game", 0, 5, 0, 0},
    // The last occurrence of an attribute counts.
    {"attribute_twice.txt", "Game", 0, 20, 70, 0},
    // A CR before the LF stays in the line and harms nothing.
    {"crlf.txt", "Game", 100, 0, 45, 80},
    {"unterminated_last_line.txt", "Game", 0, 35, 10, 0},
    // Lines without an element, unknown tags and names, "parlor", unquoted
    // values; an empty line joins the line after it; " 12abc" reads 12.
    {"ignored_lines.txt", "Game", 12, 0, 30, 40},
};

TEST(LauncherOutputFixtures, ReadWholeGiveTheExpectedPercentages) {
  for (const FixtureCase& c : kFixtureCases) {
    SCOPED_TRACE(std::string(c.file) + " tracking \"" + c.tracked + "\"");
    Parsed parsed = ParseFixture(c.file, c.tracked);
    EXPECT_EQ(c.web, parsed.output.webServicesPercent);
    EXPECT_EQ(c.ad, parsed.output.adEnginePercent);
    EXPECT_EQ(c.desk, parsed.output.deskPercent);
    EXPECT_EQ(c.trackedPercent, parsed.output.trackedPercent);
    EXPECT_TRUE(parsed.errors.empty());
    std::string bytes;
    ASSERT_TRUE(test_paths::ReadWholeFile(
        SourcePath(std::string("tests/fixtures/launcher_output/") + c.file), &bytes));
    // Every byte is consumed, an unterminated last line included.
    EXPECT_EQ(bytes.size(), parsed.output.readOffset);
  }
}

TEST(LauncherOutputFixtures, ErrorLinesAreReportedWhereTheyStandAndParsingGoesOn) {
  Parsed parsed = ParseFixture("error_lines.txt", "Game");
  ASSERT_EQ(3u, parsed.errors.size());
  EXPECT_EQ("Could not reach the content server", parsed.errors[0].msg);
  EXPECT_EQ(12029, parsed.errors[0].code);
  EXPECT_EQ(25, parsed.errors[0].desk_percent_then);
  // Attribute order does not matter; the code reads like atoi.
  EXPECT_EQ("second", parsed.errors[1].msg);
  EXPECT_EQ(-7, parsed.errors[1].code);
  EXPECT_EQ(50, parsed.errors[1].desk_percent_then);
  EXPECT_EQ("", parsed.errors[2].msg);
  EXPECT_EQ(0, parsed.errors[2].code);
  EXPECT_EQ(50, parsed.output.deskPercent);
}

TEST(LauncherOutputFixtures, NameSelectionOrderPutsTheDeskBeforeTheTrackedName) {
  // With desk installation the desk id is the tracked name; "Parlor" still
  // selects the desk share.
  Parsed parsed = ParseFixture("lower_percent_ignored.txt", "Parlor");
  EXPECT_EQ(61, parsed.output.deskPercent);
  EXPECT_EQ(0, parsed.output.trackedPercent);
  // A tracked name equal to a component's name takes that component's lines.
  parsed = ParseFixture("lower_percent_ignored.txt", "Torvane.Ads.AgentAdEngine");
  EXPECT_EQ(75, parsed.output.trackedPercent);
  EXPECT_EQ(0, parsed.output.adEnginePercent);
}

TEST(LauncherLineParts, TagAttributeAndText) {
  EXPECT_EQ("CurrentStep", LauncherLineTag("junk <CurrentStep  Step=\"x\">"));
  EXPECT_EQ("", LauncherLineTag("no element"));
  EXPECT_EQ("", LauncherLineTag("<Error>"));
  EXPECT_EQ("a b", LauncherLineAttribute("<E Msg=\"a b\" />", "Msg"));
  // The name must follow a blank: "XMsg=" is not "Msg=".
  EXPECT_EQ("", LauncherLineAttribute("<E XMsg=\"a\" />", "Msg"));
  // Missing closing quote.
  EXPECT_EQ("", LauncherLineAttribute("<E Msg=\"a />", "Msg"));
  // A value without quotes takes the next quoted text after it.
  EXPECT_EQ("y", LauncherLineAttribute("<E Msg=x Code=\"y\" />", "Msg"));
  EXPECT_EQ("Parlor", LauncherLineText("<CurrentStep a=\"1\">Parlor</CurrentStep>", "CurrentStep"));
  EXPECT_EQ("", LauncherLineText("<CurrentStep a=\"1\">Parlor", "CurrentStep"));
  EXPECT_EQ("", LauncherLineText("<CurrentStep a=\"1\"/>", "CurrentStep"));
}

TEST(LauncherLineParts, DecimalReadsLikeAtoiAndSaturates) {
  EXPECT_EQ(42, LauncherDecimal("42"));
  EXPECT_EQ(42, LauncherDecimal(" \t42%"));
  EXPECT_EQ(-5, LauncherDecimal("-5"));
  EXPECT_EQ(7, LauncherDecimal("+7"));
  EXPECT_EQ(0, LauncherDecimal(""));
  EXPECT_EQ(0, LauncherDecimal("- 5"));
  EXPECT_EQ(0, LauncherDecimal("x5"));
  EXPECT_EQ(INT32_MAX, LauncherDecimal("99999999999999999999"));
  EXPECT_EQ(INT32_MIN, LauncherDecimal("-2147483648"));
  EXPECT_EQ(INT32_MIN, LauncherDecimal("-99999999999999999999"));
}

TEST(LauncherLineParts, AnOverlongPercentIsNotTakenForASmallOne) {
  // 2^32 + 50 wraps to 50 in 32-bit arithmetic; saturated it stays above 100.
  LauncherOutput output;
  ApplyLauncherLine(&output, "<DownloadProgress AppName=\"Parlor\" Percent=\"4294967346\" />", "",
                    nullptr);
  EXPECT_EQ(0, output.deskPercent);
}

class LauncherOutputFileTest : public testing::Test {
 protected:
  void Append(const std::string& bytes) {
    platform::UniqueFile writer = platform::OpenFile(path_, "ab");
    ASSERT_TRUE(writer);
    ASSERT_EQ(bytes.size(), std::fwrite(bytes.data(), 1, bytes.size(), writer.get()));
  }

  ScratchFolder scratch_;
  std::string path_ = scratch_.File("BrindleAgentLauncherOutput.txt");
  Parsed parsed_;
};

TEST_F(LauncherOutputFileTest, ReadsOnlyNewLinesFromAFileThatGrowsWhileOpen) {
  ASSERT_TRUE(test_paths::WriteWholeFile(path_, ""));
  platform::UniqueFile reader = platform::OpenFile(path_, "rb");
  ASSERT_TRUE(reader);
  // The command interpreter creates the file before the launcher writes.
  Parse(&parsed_, reader.get(), "Game");
  EXPECT_EQ(0u, parsed_.output.readOffset);

  Append(
      "<DownloadProgress AppName=\"Game\" Percent=\"20\" />\n<Error Msg=\"once\" Code=\"3\" />\n");
  Parse(&parsed_, reader.get(), "Game");
  EXPECT_EQ(20, parsed_.output.trackedPercent);
  Append("<DownloadProgress AppName=\"Game\" Percent=\"90\" />\n");
  Parse(&parsed_, reader.get(), "Game");
  Parse(&parsed_, reader.get(), "Game");
  EXPECT_EQ(90, parsed_.output.trackedPercent);
  // Consumed lines are not applied again: the error is reported once.
  EXPECT_EQ(1u, parsed_.errors.size());
}

TEST_F(LauncherOutputFileTest, ALineStillBeingWrittenWaitsForItsEnd) {
  Append("<Error Msg=\"Disk ");
  platform::UniqueFile reader = platform::OpenFile(path_, "rb");
  ASSERT_TRUE(reader);
  Parse(&parsed_, reader.get(), "Game");
  EXPECT_EQ(0u, parsed_.output.readOffset);
  Append("full\" Code=\"112\" />\n<DownloadProgress AppName=\"Parl");
  Parse(&parsed_, reader.get(), "Game");
  ASSERT_EQ(1u, parsed_.errors.size());
  EXPECT_EQ("Disk full", parsed_.errors[0].msg);
  Append(
      "or\" Percent=\"42\" />\n<DownloadProgress AppName=\"Torvane.Ads.AgentAdEngine\" "
      "Percent=\"9\" />");
  Parse(&parsed_, reader.get(), "Game");
  EXPECT_EQ(42, parsed_.output.deskPercent);
  EXPECT_EQ(0, parsed_.output.adEnginePercent);
  // The last read, after the program has ended, takes the line as it stands.
  Parse(&parsed_, reader.get(), "Game", /*last_read=*/true);
  EXPECT_EQ(9, parsed_.output.adEnginePercent);
}

TEST_F(LauncherOutputFileTest, AFileShorterThanWhatWasReadGivesNothingNew) {
  Append("<DownloadProgress AppName=\"Parlor\" Percent=\"30\" />\n");
  platform::UniqueFile reader = platform::OpenFile(path_, "rb");
  ASSERT_TRUE(reader);
  Parse(&parsed_, reader.get(), "Game");
  uint32_t offset = parsed_.output.readOffset;
  reader.reset();
  // Rewritten one byte shorter than what was consumed.
  ASSERT_TRUE(
      test_paths::WriteWholeFile(path_, "<DownloadProgress AppName=\"Parlor\" Percent=\"99\"/>\n"));
  reader = platform::OpenFile(path_, "rb");
  Parse(&parsed_, reader.get(), "Game");
  EXPECT_EQ(30, parsed_.output.deskPercent);
  EXPECT_EQ(offset, parsed_.output.readOffset);
}

#ifdef __GLIBC__
// An output file in memory that counts the bytes the parser reads from it.
class CountedOutput {
 public:
  CountedOutput() {
    cookie_io_functions_t io = {&CountedOutput::Read, nullptr, &CountedOutput::Seek, nullptr};
    file_ = fopencookie(this, "rb", io);
    // Unbuffered, so that every byte the parser asks for is counted once.
    if (file_) setvbuf(file_, nullptr, _IONBF, 0);
  }
  ~CountedOutput() {
    if (file_) std::fclose(file_);
  }
  std::FILE* get() const { return file_; }
  void Append(const std::string& bytes) { bytes_ += bytes; }
  size_t TakeBytesRead() {
    size_t read = read_;
    read_ = 0;
    return read;
  }

 private:
  static ssize_t Read(void* cookie, char* buffer, size_t size) {
    CountedOutput* self = static_cast<CountedOutput*>(cookie);
    if (self->position_ >= self->bytes_.size()) return 0;
    size = std::min(size, self->bytes_.size() - self->position_);
    std::memcpy(buffer, self->bytes_.data() + self->position_, size);
    self->position_ += size;
    self->read_ += size;
    return static_cast<ssize_t>(size);
  }
  static int Seek(void* cookie, off64_t* offset, int whence) {
    CountedOutput* self = static_cast<CountedOutput*>(cookie);
    off64_t base = whence == SEEK_SET   ? 0
                   : whence == SEEK_CUR ? static_cast<off64_t>(self->position_)
                                        : static_cast<off64_t>(self->bytes_.size());
    if (base + *offset < 0) return -1;
    self->position_ = static_cast<size_t>(base + *offset);
    *offset = static_cast<off64_t>(self->position_);
    return 0;
  }

  std::string bytes_;
  size_t position_ = 0;
  size_t read_ = 0;
  std::FILE* file_ = nullptr;
};

TEST(LauncherOutputReadTest, EachPollReadsOnlyWhatFollowsTheConsumedLines) {
  CountedOutput output;
  ASSERT_TRUE(output.get());
  std::string earlier;
  for (int i = 0; i < 2000; ++i) earlier += "<DownloadProgress AppName=\"Game\" Percent=\"1\" />\n";
  output.Append(earlier);
  Parsed parsed;
  Parse(&parsed, output.get(), "Game");
  EXPECT_EQ(earlier.size(), output.TakeBytesRead());

  const std::string next = "<DownloadProgress AppName=\"Parlor\" Percent=\"40\" />\n<Error ";
  output.Append(next);
  Parse(&parsed, output.get(), "Game");
  EXPECT_EQ(next.size(), output.TakeBytesRead());
  EXPECT_EQ(40, parsed.output.deskPercent);
  // The cut line is read again, with its end, at the next poll.
  output.Append("Msg=\"late\" Code=\"5\" />\n");
  Parse(&parsed, output.get(), "Game");
  EXPECT_EQ(std::string("<Error Msg=\"late\" Code=\"5\" />\n").size(), output.TakeBytesRead());
  ASSERT_EQ(1u, parsed.errors.size());
  EXPECT_EQ("late", parsed.errors[0].msg);
  EXPECT_EQ(earlier.size() + next.size() + 23, parsed.output.readOffset);
}
#endif  // __GLIBC__

TEST_F(LauncherOutputFileTest, NoFileChangesNothing) {
  Parse(&parsed_, nullptr, "");
  EXPECT_EQ(0u, parsed_.output.readOffset);
  EXPECT_EQ(0, parsed_.output.trackedPercent);
}

TEST(ComputeLaunchProgressTest, WeighsTheComponentsAndTheTrackedApplication) {
  LauncherOutput output;
  // Without desk installation the desk share is preset: 0.30 before any line.
  output.deskPercent = 100;
  EXPECT_DOUBLE_EQ(0.30, ComputeLaunchProgress(output, 0.5, 0.5));
  // MiniServer: "Content" at 40 with weight 0.75 gives 0.30 on its own.
  LauncherOutput content;
  content.trackedPercent = 40;
  EXPECT_DOUBLE_EQ(0.30, ComputeLaunchProgress(content, 0.25, 0.75));

  LauncherOutput shares;
  shares.adEnginePercent = 100;
  EXPECT_DOUBLE_EQ(0.1, ComputeLaunchProgress(shares, 1.0, 0.0));
  shares.webServicesPercent = 100;
  EXPECT_DOUBLE_EQ(0.4, ComputeLaunchProgress(shares, 1.0, 0.0));
  shares.deskPercent = 100;
  shares.trackedPercent = 100;
  // With desk installation the tracked application has no weight.
  EXPECT_DOUBLE_EQ(1.0, ComputeLaunchProgress(shares, 1.0, 0.0));
  EXPECT_DOUBLE_EQ(1.0, ComputeLaunchProgress(shares, 0.5, 0.5));
}

}  // namespace

}  // namespace components
