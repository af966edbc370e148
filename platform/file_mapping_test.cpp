#include "platform/file_mapping.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/test_paths.h"

namespace platform {
namespace {

TEST(FileMappingTest, ViewsShowTheBytesOfAnyRangeInsideTheFile) {
  test_paths::ScratchFolder scratch;
  std::string bytes(300 * 1024, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
  ASSERT_TRUE(test_paths::WriteWholeFile(scratch.File("file.bin"), bytes));
  FileMapping mapping(scratch.File("file.bin"));
  ASSERT_TRUE(mapping.opened());
  EXPECT_EQ(static_cast<int64_t>(bytes.size()), mapping.size());

  struct Range {
    int64_t offset;
    size_t size;
  };
  // At the start, off any boundary, across 64 KiB boundaries, up to the end.
  for (const Range& r :
       {Range{0, 1}, Range{1, 4096}, Range{65535, 2}, Range{70001, 150000}, Range{0, bytes.size()},
        Range{static_cast<int64_t>(bytes.size()) - 1, 1}}) {
    SCOPED_TRACE(r.offset);
    FileView view = mapping.Map(r.offset, r.size);
    ASSERT_TRUE(view.mapped());
    EXPECT_EQ(0, std::memcmp(view.data(), bytes.data() + r.offset, r.size));
  }
  // Empty, past the end, or before the start.
  for (const Range& r : {Range{0, 0}, Range{1, bytes.size()},
                         Range{static_cast<int64_t>(bytes.size()), 1}, Range{-1, 2}}) {
    SCOPED_TRACE(r.offset);
    EXPECT_FALSE(mapping.Map(r.offset, r.size).mapped());
  }
}

TEST(FileMappingTest, OnlyAnExistingFileOpens) {
  test_paths::ScratchFolder scratch;
  EXPECT_FALSE(FileMapping(scratch.File("missing.bin")).opened());
  EXPECT_FALSE(FileMapping(scratch.path()).opened());
  EXPECT_FALSE(FileMapping("").opened());
  EXPECT_FALSE(FileMapping(scratch.File("missing.bin")).Map(0, 1).mapped());
}

}  // namespace
}  // namespace platform
