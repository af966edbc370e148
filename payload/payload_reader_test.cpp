#include "payload/payload_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "payload/payload_format.h"
#include "platform/files.h"
#include "tests/payload_builder.h"
#include "tests/test_paths.h"

namespace payload {

namespace {

using test_paths::ReadWholeFile;
using test_paths::SourcePath;
using test_paths::WriteWholeFile;
using test_payload::Entry;
using test_payload::RawEntry;

// Bytes that stand for an executable image without an MS-DOS header.
const std::string kImage = "image bytes without any header";

class PayloadReaderTest : public testing::Test {
 protected:
  // Each in a file of its own: a reader keeps its file mapped, and Windows
  // does not truncate a mapped file.
  std::unique_ptr<PayloadReader> ReadBytes(const std::string& bytes) {
    last_path_ = scratch_.File("payload" + std::to_string(++files_) + ".exe");
    EXPECT_TRUE(WriteWholeFile(last_path_, bytes));
    return std::make_unique<PayloadReader>(last_path_);
  }

  std::string Data(const PayloadReader& reader, const std::string& name) {
    const char* data = reader.entryData(name);
    return data ? std::string(data, reader.entrySize(name)) : "<absent>";
  }

  test_paths::ScratchFolder scratch_;
  std::string last_path_;
  int files_ = 0;
};

TEST_F(PayloadReaderTest, FindsEntriesByUpperCasedName) {
  auto reader = ReadBytes(kImage + Entry("CONFIG.TXT", "ClientID=x\r\n") +
                          Entry("EULA.TXT", std::string("a\0b", 3)));
  EXPECT_EQ(2u, reader->EntryCount());
  EXPECT_TRUE(reader->hasEntry("CONFIG.TXT"));
  EXPECT_TRUE(reader->hasEntry("config.txt"));
  EXPECT_TRUE(reader->hasEntry("Config.Txt"));
  EXPECT_EQ("ClientID=x\r\n", Data(*reader, "config.txt"));
  EXPECT_EQ(12, reader->entrySize("CONFIG.TXT"));
  EXPECT_EQ(std::string("a\0b", 3), Data(*reader, "EULA.TXT"));
  // Text entries are C strings: one NUL after the data.
  EXPECT_EQ('\0', reader->entryData("EULA.TXT")[3]);

  EXPECT_FALSE(reader->hasEntry("LOGOIMAGE.JPG"));
  EXPECT_EQ(nullptr, reader->entryData("LOGOIMAGE.JPG"));
  EXPECT_EQ(0, reader->entrySize("LOGOIMAGE.JPG"));
}

TEST_F(PayloadReaderTest, EntryStoredInLowerCaseIsNeverFound) {
  auto reader =
      ReadBytes(kImage + Entry("dotnetfx.exe", "lower") + Entry("DOTNETSERVICEPACK.EXE", "upper"));
  EXPECT_FALSE(reader->hasEntry("dotnetfx.exe"));
  EXPECT_FALSE(reader->hasEntry("DOTNETFX.EXE"));
  EXPECT_TRUE(reader->hasEntry("dotnetServicePack.exe"));
}

TEST_F(PayloadReaderTest, EmptyEntryAndEmptyNameAreEntries) {
  auto reader = ReadBytes(kImage + Entry("EMPTY.TXT", "") + Entry("", "nameless"));
  ASSERT_TRUE(reader->hasEntry("EMPTY.TXT"));
  EXPECT_EQ(0, reader->entrySize("EMPTY.TXT"));
  ASSERT_NE(nullptr, reader->entryData("EMPTY.TXT"));
  EXPECT_STREQ("", reader->entryData("EMPTY.TXT"));
  EXPECT_TRUE(reader->hasEntry(""));
  EXPECT_EQ("nameless", Data(*reader, ""));
}

TEST_F(PayloadReaderTest, DuplicateNameNearerTheEndWins) {
  auto reader = ReadBytes(kImage + Entry("CONFIG.TXT", "first") + Entry("OTHER", "o") +
                          Entry("CONFIG.TXT", "second"));
  EXPECT_EQ(2u, reader->EntryCount());
  EXPECT_EQ("second", Data(*reader, "CONFIG.TXT"));
}

TEST_F(PayloadReaderTest, BrokenLinkEndsTheWalkAndKeepsLaterEntries) {
  // A single byte between an entry and the previous marker breaks the chain.
  auto gap = ReadBytes(kImage + Entry("A", "1") + "x" + Entry("B", "2") + Entry("C", "3"));
  EXPECT_FALSE(gap->hasEntry("A"));
  EXPECT_EQ("2", Data(*gap, "B"));
  EXPECT_EQ("3", Data(*gap, "C"));

  // Name lengths from 0x80 on end the walk, even where 128 name bytes are there.
  auto long_name = ReadBytes(kImage + Entry("A", "1") +
                             RawEntry("data", 4, std::string(128, 'N'), 0x80) + Entry("C", "3"));
  EXPECT_EQ(1u, long_name->EntryCount());
  EXPECT_TRUE(long_name->hasEntry("C"));

  auto huge =
      ReadBytes(kImage + Entry("A", "1") + RawEntry("", 0x80000000u, "BIG", 3) + Entry("C", "3"));
  EXPECT_EQ(1u, huge->EntryCount());
  EXPECT_TRUE(huge->hasEntry("C"));

  // A size reaching before the start of the file.
  auto before_start = ReadBytes(RawEntry("short", 1000, "FAR", 3) + Entry("C", "3"));
  EXPECT_EQ(1u, before_start->EntryCount());
  EXPECT_TRUE(before_start->hasEntry("C"));

  // A name reaching before the start of the file.
  auto name_before_start =
      ReadBytes(test_payload::MarkerBytes().substr(0, 2) + "\x7F" + test_payload::MarkerBytes());
  EXPECT_EQ(0u, name_before_start->EntryCount());
}

TEST_F(PayloadReaderTest, WhatFollowsTheLastMarkerIsIgnored) {
  auto reader = ReadBytes(kImage + Entry("A", "1") + Entry("B", "2") + "trailing garbage");
  EXPECT_EQ("1", Data(*reader, "A"));
  EXPECT_EQ("2", Data(*reader, "B"));
}

// The last marker is searched from the end a block (64 KiB) at a time; a
// marker anywhere against a block's edge, and entries larger than a block,
// are found as in one piece.
TEST_F(PayloadReaderTest, TheLastMarkerIsFoundWhereverItLiesAgainstTheSearchBlocks) {
  const std::string big(200 * 1024, 'x');
  for (size_t trailing : {0, 1, 6, 7, 65530, 65536 - 4, 65536 - 3, 65536, 65543, 140000}) {
    SCOPED_TRACE(trailing);
    auto reader =
        ReadBytes(kImage + Entry("BIG", big) + Entry("A", "1") + std::string(trailing, '\x5A'));
    EXPECT_EQ("1", Data(*reader, "A"));
    EXPECT_EQ(big.size(), static_cast<size_t>(reader->entrySize("BIG")));
  }
}

TEST_F(PayloadReaderTest, NoPayloadGivesNoEntries) {
  auto plain = ReadBytes(kImage + std::string(5000, '\x5A'));
  EXPECT_EQ(0u, plain->EntryCount());
  EXPECT_EQ(nullptr, plain->entryData("CONFIG.TXT"));
  EXPECT_EQ(0, plain->entrySize("CONFIG.TXT"));

  EXPECT_EQ(0u, ReadBytes("")->EntryCount());
  EXPECT_EQ(0u, PayloadReader(scratch_.File("missing.exe")).EntryCount());
  EXPECT_EQ(0u, PayloadReader("").EntryCount());
  // A folder opens on some systems but cannot be read.
  EXPECT_EQ(0u, PayloadReader(scratch_.path()).EntryCount());
}

// An MS-DOS header whose page fields put the search start at `start`.
std::string DosHeader(uint16_t last_page_bytes, uint16_t pages) {
  std::string header(64, '\0');
  header[0] = 'M';
  header[1] = 'Z';
  header[2] = static_cast<char>(last_page_bytes & 0xFF);
  header[3] = static_cast<char>(last_page_bytes >> 8);
  header[4] = static_cast<char>(pages & 0xFF);
  header[5] = static_cast<char>(pages >> 8);
  return header;
}

FileLayout LayoutOf(const std::string& path) {
  platform::UniqueFile file = platform::OpenFile(path, "rb");
  EXPECT_TRUE(file);
  return file ? ReadFileLayout(file.get()) : FileLayout();
}

TEST_F(PayloadReaderTest, MsDosHeaderSetsTheSearchStart) {
  // 3 pages with 0x90 bytes on the last one: the search starts at 1,168.
  const std::string header = DosHeader(0x90, 3);
  const std::string entry = Entry("A", "1");
  const size_t marker_start = entry.size() - kMarkerSize;
  const std::string after = std::string(16, '#');

  const size_t filler = 1168 - header.size() - marker_start;

  // The last marker begins exactly at the search start: found.
  std::string at_start = header + std::string(filler, '.') + entry;
  ASSERT_EQ(1168u, at_start.size() - kMarkerSize);
  auto reader = ReadBytes(at_start + after);
  EXPECT_EQ(1168, LayoutOf(last_path_).search_start);
  EXPECT_TRUE(reader->hasEntry("A"));

  // One byte earlier it lies before the search start, and garbage follows it.
  std::string too_early = header + std::string(filler - 1, '.') + entry;
  EXPECT_FALSE(ReadBytes(too_early + after)->hasEntry("A"));
  // Without the header the same bytes are searched from the start of the file.
  too_early[0] = 'X';
  EXPECT_TRUE(ReadBytes(too_early + after)->hasEntry("A"));

  // A full last page: pages x 512.
  ReadBytes(DosHeader(0, 2) + std::string(2000, '.'));
  EXPECT_EQ(1024, LayoutOf(last_path_).search_start);
}

TEST_F(PayloadReaderTest, SaveEntryWritesExactBytesOrRemovesStaleFile) {
  const std::string binary("MZ\r\n\0\xFF\x80 end", 10);
  auto reader = ReadBytes(kImage + Entry("PICTURE.JPG", binary) + Entry("EMPTY.TXT", ""));
  std::string bytes;

  EXPECT_TRUE(reader->saveEntry("picture.jpg", "copy.jpg", scratch_.path()));
  ASSERT_TRUE(ReadWholeFile(scratch_.File("copy.jpg"), &bytes));
  EXPECT_EQ(binary, bytes);

  EXPECT_TRUE(reader->saveEntry("EMPTY.TXT", "EMPTY.TXT", scratch_.path()));
  ASSERT_TRUE(ReadWholeFile(scratch_.File("EMPTY.TXT"), &bytes));
  EXPECT_EQ("", bytes);

  // Larger than the pieces it is read in, and starting at no page boundary.
  std::string large(2 * 1024 * 1024 + 12345, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i % 251);
  auto large_reader = ReadBytes(kImage + Entry("DOTNETFX.EXE", large) + Entry("EULA.TXT", "e"));
  EXPECT_TRUE(large_reader->saveEntry("DOTNETFX.EXE", "dotnetfx.exe", scratch_.path()));
  ASSERT_TRUE(ReadWholeFile(scratch_.File("dotnetfx.exe"), &bytes));
  EXPECT_TRUE(bytes == large);
  const char* data = large_reader->entryData("DOTNETFX.EXE");
  ASSERT_NE(nullptr, data);
  EXPECT_TRUE(std::string(data, large.size()) == large);
  EXPECT_EQ('\0', data[large.size()]);
  // The copy is made once and kept.
  EXPECT_EQ(data, large_reader->entryData("dotnetfx.exe"));

  // An absent entry removes a copy left by an earlier run and still succeeds.
  ASSERT_TRUE(WriteWholeFile(scratch_.File("LOGOIMAGE.JPG"), "stale"));
  EXPECT_TRUE(reader->saveEntry("LOGOIMAGE.JPG", "LOGOIMAGE.JPG", scratch_.path()));
  EXPECT_FALSE(platform::PathExists(scratch_.File("LOGOIMAGE.JPG")));
  EXPECT_TRUE(reader->saveEntry("LOGOIMAGE.JPG", "LOGOIMAGE.JPG", scratch_.path()));

  // A target that cannot be written.
  ASSERT_TRUE(platform::CreateFolder(scratch_.File("BLOCKED.JPG")));
  EXPECT_FALSE(reader->saveEntry("PICTURE.JPG", "BLOCKED.JPG", scratch_.path()));
  EXPECT_FALSE(reader->saveEntry("PICTURE.JPG", "x.jpg", scratch_.File("no-such-folder")));
}

TEST(PayloadFormatTest, EntryLayoutMatchesTheShippedExample) {
  // The first shipped entry: 1,324 data bytes, then 2C 05 00 00, the name,
  // 0A and the marker.
  std::string out;
  AppendEntry("CONFIG.TXT", std::string(1324, 'c'), &out);
  ASSERT_EQ(1324u + 4 + 10 + 1 + 7, out.size());
  EXPECT_EQ(std::string("\x2C\x05\x00\x00", 4) + "CONFIG.TXT\x0A" + test_payload::MarkerBytes(),
            out.substr(1324));
  EXPECT_EQ(test_payload::MarkerBytes(), Marker());
}

// Fixtures made by tests/fixtures/make_signed_fixture.sh: a stripped PE stub
// with CONFIG.TXT and EULA.TXT appended, its signed copy, and the signed copy
// with a forged CONFIG.TXT and FORGED.TXT appended after the signature.
class SignedPayloadTest : public testing::Test {
 protected:
  static std::string Fixture(const char* name) {
    return SourcePath(std::string("tests/fixtures/") + name);
  }
  static void ExpectOriginalEntries(const PayloadReader& reader) {
    EXPECT_EQ(2u, reader.EntryCount());
    ASSERT_TRUE(reader.hasEntry("CONFIG.TXT"));
    EXPECT_STREQ("ClientID=Fixture\r\nDeskID=Signed\r\n", reader.entryData("CONFIG.TXT"));
    ASSERT_TRUE(reader.hasEntry("EULA.TXT"));
    EXPECT_STREQ("Signed licence text.", reader.entryData("EULA.TXT"));
  }
};

TEST_F(SignedPayloadTest, SigningAfterAppendingChangesNothing) {
  ExpectOriginalEntries(PayloadReader(Fixture("payload_unsigned.exe")));
  ExpectOriginalEntries(PayloadReader(Fixture("payload_signed.exe")));
}

TEST_F(SignedPayloadTest, EntriesAfterTheSignatureAreNeverRead) {
  PayloadReader reader(Fixture("payload_forged.exe"));
  ExpectOriginalEntries(reader);
  EXPECT_FALSE(reader.hasEntry("FORGED.TXT"));
}

// The signed fixture's bytes with changes, read back through a file.
class CertificateTableTest : public SignedPayloadTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ReadWholeFile(Fixture("payload_signed.exe"), &signed_));
    platform::UniqueFile file = platform::OpenFile(Fixture("payload_signed.exe"), "rb");
    ASSERT_TRUE(file);
    table_ = ReadFileLayout(file.get());
    ASSERT_TRUE(table_.has_certificate_table);
    ASSERT_EQ(static_cast<int64_t>(signed_.size()),
              table_.certificate_offset + table_.certificate_size);
  }
  // The security directory of `bytes` set to name `size` bytes at the table's offset.
  void NameSize(std::string* bytes, uint32_t size) const {
    for (int i = 0; i < 4; ++i) {
      (*bytes)[table_.security_directory_offset + 4 + i] = static_cast<char>(size >> (8 * i));
    }
  }
  std::string Path(const std::string& bytes) {
    std::string path = scratch_.File("case.exe");
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    return path;
  }

  test_paths::ScratchFolder scratch_;
  std::string signed_;
  FileLayout table_;
};

TEST_F(CertificateTableTest, TheBoundIsTakenOnlyFromARangeThatHoldsCertificates) {
  const std::string forged = Entry("CONFIG.TXT", "ClientID=Forged\r\n") + Entry("FORGED.TXT", "x");
  // A second entry of the table: 16 bytes, revision 2.0, an X.509 certificate.
  const std::string second_certificate =
      std::string("\x10\x00\x00\x00\x00\x02\x01\x00", 8) + std::string(8, '\xC3');
  const int64_t size = table_.certificate_size;
  struct Case {
    const char* what;
    std::string bytes;
    bool bounded;        // the table bounds the search
    const char* config;  // the CONFIG.TXT read
  };
  std::string two_entries = signed_ + second_certificate + forged;
  NameSize(&two_entries, static_cast<uint32_t>(size + 16));
  std::string grown = signed_ + forged + std::string(64, '\0');
  NameSize(&grown, static_cast<uint32_t>(grown.size() - table_.certificate_offset));
  const Case cases[] = {
      {"a signature stripped, its directory entry left, then a payload appended: the named "
       "range lies inside the new payload",
       signed_.substr(0, table_.certificate_offset) + Entry("CONFIG.TXT", "ClientID=Appended\r\n") +
           Entry("EULA.TXT", std::string(static_cast<size_t>(size) + 100, 'L')),
       false, "ClientID=Appended\r\n"},
      {"a real table with a forged payload after it", signed_ + forged, true,
       "ClientID=Fixture\r\nDeskID=Signed\r\n"},
      {"a table of two entries with a forged payload after it", two_entries, true,
       "ClientID=Fixture\r\nDeskID=Signed\r\n"},
      // The directory entry is outside what the signature covers: grown over
      // a forged payload, it must not make the file read as unsigned.
      {"a real table whose named size was grown over a forged payload", grown, true,
       "ClientID=Fixture\r\nDeskID=Signed\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = Path(c.bytes);
    PayloadReader reader(path);
    EXPECT_STREQ(c.config, reader.entryData("CONFIG.TXT"));
    EXPECT_FALSE(reader.hasEntry("FORGED.TXT"));
    platform::UniqueFile file = platform::OpenFile(path, "rb");
    ASSERT_TRUE(file);
    FileLayout layout = ReadFileLayout(file.get());
    EXPECT_EQ(c.bounded, layout.has_certificate_table);
    EXPECT_EQ(c.bounded ? table_.certificate_offset : layout.file_size, layout.search_end);
  }
  platform::UniqueFile file = platform::OpenFile(Path(two_entries), "rb");
  ASSERT_TRUE(file);
  EXPECT_EQ(size + 16, ReadFileLayout(file.get()).certificate_bytes);
}

TEST_F(SignedPayloadTest, LayoutNamesImageEndAndCertificateTable) {
  int64_t unsigned_size = platform::FileSize(Fixture("payload_unsigned.exe"));
  ASSERT_GT(unsigned_size, 0);

  platform::UniqueFile file = platform::OpenFile(Fixture("payload_signed.exe"), "rb");
  ASSERT_TRUE(file);
  FileLayout layout = ReadFileLayout(file.get());
  ASSERT_TRUE(layout.has_certificate_table);
  // The signer pads the file to 8 bytes before the table, which runs to the end.
  EXPECT_EQ((unsigned_size + 7) / 8 * 8, layout.certificate_offset);
  EXPECT_EQ(layout.file_size, layout.certificate_offset + layout.certificate_size);
  EXPECT_EQ(layout.certificate_offset, layout.search_end);

  // The security directory entry holds the table's offset and size.
  unsigned char directory[8];
  ASSERT_TRUE(ReadFileBytes(file.get(), layout.security_directory_offset, directory, 8));
  uint32_t offset, size;
  std::memcpy(&offset, directory, 4);  // little-endian hosts only
  std::memcpy(&size, directory + 4, 4);
  EXPECT_EQ(layout.certificate_offset, offset);
  EXPECT_EQ(layout.certificate_size, size);

  // The payload begins where the image's last section ends.
  PayloadScan scan = ScanPayload(file.get(), layout);
  ASSERT_EQ(2u, scan.entries.size());
  EXPECT_EQ(layout.image_end, scan.start);
  EXPECT_EQ(unsigned_size, scan.end);

  platform::UniqueFile unsigned_file = platform::OpenFile(Fixture("payload_unsigned.exe"), "rb");
  ASSERT_TRUE(unsigned_file);
  FileLayout plain = ReadFileLayout(unsigned_file.get());
  EXPECT_FALSE(plain.has_certificate_table);
  EXPECT_EQ(plain.file_size, plain.search_end);
  EXPECT_EQ(layout.image_end, plain.image_end);
}

}  // namespace

}  // namespace payload
