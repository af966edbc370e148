#include "engine/download_judge.h"

#include <gtest/gtest.h>

#include <string>

namespace engine {

namespace {

TEST(DownloadJudgeTest, TheHeadTakesOnly200WithALengthOfAtMostNineCharacters) {
  struct Row {
    int status;
    bool has_length;
    const char* length;
    DownloadVerdict verdict;
    uint64_t total;
  };
  const Row rows[] = {
      {200, true, "3000", DownloadVerdict::kAccepted, 3000},
      {200, true, "999999999", DownloadVerdict::kAccepted, 999999999},
      {200, true, "1000000000", DownloadVerdict::kNoLength, 0},
      {200, false, "", DownloadVerdict::kNoLength, 0},
      {200, true, "abc", DownloadVerdict::kAccepted, 0},  // read as the bootstrapper reads it
      {404, true, "10", DownloadVerdict::kNotOk, 0},
      {0, false, "", DownloadVerdict::kNotOk, 0},  // no status at all
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.status) + " " + row.length);
    DownloadJudge judge(DownloadRules{});
    EXPECT_EQ(row.verdict, judge.JudgeHead(row.status, row.has_length, row.length, 0));
    EXPECT_EQ(row.total, judge.total());
  }
}

// RFC 1321's and FIPS 180-2's digests of "abc".
const char kAbcMd5[] = "900150983cd24fb0d6963f7d28e17f72";
const char kAbcSha256[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TEST(DownloadJudgeTest, TheBodyIsJudgedAsAFileTheInstallerWillRun) {
  struct Row {
    const char* name;
    std::string sent;     // the bytes that arrive, in one piece
    const char* length;   // the announced length
    const char* md5;      // the configured digest
    const char* leading;  // what the file must begin with
    DownloadVerdict verdict;
    const char* kept;         // the file's bytes
    const char* sha256 = "";  // the configured SHA-256
  };
  const Row rows[] = {
      {"whole, digest matches", "abc", "3", kAbcMd5, "", DownloadVerdict::kAccepted, "abc"},
      {"bytes past the length are not the file", "abcdef", "3", kAbcMd5, "",
       DownloadVerdict::kAccepted, "abc"},
      {"digest differs", "abd", "3", kAbcMd5, "", DownloadVerdict::kDigestMismatch, "abd"},
      {"ended early", "ab", "3", "", "", DownloadVerdict::kEndedEarly, "ab"},
      {"begins as it must", "MSIx", "4", "", "MSI", DownloadVerdict::kAccepted, "MSIx"},
      {"begins otherwise", "<htm", "4", "", "MSI", DownloadVerdict::kNotTheInstaller, "<htm"},
      {"shorter than what it must begin with", "MS", "2", "", "MSI",
       DownloadVerdict::kNotTheInstaller, "MS"},
      {"SHA-256 matches", "abc", "3", "", "", DownloadVerdict::kAccepted, "abc", kAbcSha256},
      {"both match", "abc", "3", kAbcMd5, "", DownloadVerdict::kAccepted, "abc", kAbcSha256},
      {"SHA-256 differs", "abd", "3", "", "", DownloadVerdict::kSha256Mismatch, "abd", kAbcSha256},
      {"MD5 matches, SHA-256 differs", "abc", "3", kAbcMd5, "", DownloadVerdict::kSha256Mismatch,
       "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ae"},
      {"SHA-256 matches, MD5 differs", "abc", "3", "900150983cd24fb0d6963f7d28e17f73", "",
       DownloadVerdict::kDigestMismatch, "abc", kAbcSha256},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DownloadRules rules;
    rules.md5 = row.md5;
    rules.sha256 = row.sha256;
    rules.leading_bytes = row.leading;
    DownloadJudge judge(rules);
    EXPECT_TRUE(judge.can_verify());
    ASSERT_EQ(DownloadVerdict::kAccepted, judge.JudgeHead(200, true, row.length, 0));
    const size_t kept = judge.Fits(row.sent.size());
    EXPECT_EQ(row.verdict == DownloadVerdict::kEndedEarly, judge.Add(row.sent.data(), kept, 1));
    EXPECT_EQ(row.verdict, judge.JudgeBody());
    EXPECT_EQ(row.kept, judge.lead());
    if (*row.sha256) {
      EXPECT_EQ(64u, judge.sha256().size());
    }
  }
}

TEST(DownloadJudgeTest, EachStallLimitMustBringAKibibyte) {
  DownloadRules rules;
  rules.stall_limit_ms = 100;
  DownloadJudge judge(rules);
  ASSERT_EQ(DownloadVerdict::kAccepted, judge.JudgeHead(200, true, "100000", 0));
  const std::string kibibyte(1024, 'x');
  EXPECT_TRUE(judge.Add(kibibyte.data(), kibibyte.size(), 99));
  EXPECT_TRUE(judge.Add("x", 1, 100)) << "a kibibyte within the first limit";
  EXPECT_TRUE(judge.Add(kibibyte.data(), 1022, 150));
  EXPECT_FALSE(judge.Add("x", 1, 200)) << "1023 bytes in the second";
  EXPECT_EQ(DownloadVerdict::kTrickled, judge.JudgeBody());
}

// The rest of a 300-byte file from byte 100 on, and nothing else.
TEST(DownloadJudgeTest, AResumedPartMustGoOnFromWhereTheFileBrokeToItsEnd) {
  const struct {
    const char* content_range;
    bool continues;
  } rows[] = {
      {"bytes 100-299/300", true},
      {"bytes 101-299/300", false},  // another start
      {"bytes 100-299/*", false},    // no total
      {"bytes */300", false},
      {"bytes 100-299/301", false},                  // another total
      {"bytes 100-298/300", false},                  // ends before the file does
      {"bytes 0000000000000000100-299/300", false},  // more digits than are read
      {"100-299/300", false},
      {"bytes 100-299/300 x", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.continues, ContinuesFrom(row.content_range, 100, 300)) << row.content_range;
  }
}

}  // namespace

}  // namespace engine
