// The bytes of archives written by the Folder archiver, field by field: local
// and central headers, offsets, CRC, sizes, the end record, the folder
// entries' fixed date, the text attribute and the time fields.
#include <gtest/gtest.h>

#include <string>

#include "archive/folder_archiver.h"
#include "archiver_test_support.h"
#include "runtime/system.h"
#include "support/foreign_readers.h"

using archiver_test::Bytes;
using archiver_test::Crc;
using archiver_test::Inflate;
using archiver_test::ArchiverRun;
using archiver_test::RunArchiver;
using archiver_test::TextBytes;
using test_support::Separator;
using test_support::TempFolder;
using test_support::WriteWholeFile;

namespace {

const uint16_t kEpochDosDate = 0xC421;  // 1970-01-01 through the writer's rule

class ArchiverLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    InitFolderArchiver();
    ASSERT_TRUE(work_.Ok());
    source_ = work_.Join("data") + Separator();
    ASSERT_TRUE(test_support::MakeFolder(source_));
    archive_ = work_.Join("out.zip");
  }
  void TearDown() override { FreeFolderArchiver(); }

  void ExpectForeignReadersAccept(const std::string& path) {
#ifndef _WIN32
    EXPECT_EQ("", foreign_readers::CheckAll(path)) << "refused by foreign readers: " << path;
#else
    (void)path;
#endif
  }

  // Checks every field that must agree between a local and its central header,
  // and the fixed values of both, then that the data inflates to expected.
  void ExpectEntry(const ArchiverRun& run, size_t i, const std::string& name, const Bytes& expected) {
    ASSERT_LT(i, run.zip.central.size());
    const zip_parser::CentralHeader& c = run.zip.central[i];
    const zip_parser::LocalHeader& l = run.zip.local[i];
    SCOPED_TRACE("entry " + std::to_string(i) + " \"" + name + "\"");
    EXPECT_EQ(0x04034b50u, l.signature);
    EXPECT_EQ(20, l.versionNeeded);
    EXPECT_EQ(0x0002, l.flags) << "level 9: bit 1 only";
    EXPECT_EQ(8, l.method);
    EXPECT_EQ(0, l.extraLength);
    EXPECT_EQ(name, l.name);
    EXPECT_EQ(name.size(), l.nameLength);
    EXPECT_EQ(0x02014b50u, c.signature);
    EXPECT_EQ(0, c.versionMadeBy);
    EXPECT_EQ(20, c.versionNeeded);
    EXPECT_EQ(0x0002, c.flags);
    EXPECT_EQ(8, c.method);
    EXPECT_EQ(l.time, c.time);
    EXPECT_EQ(l.date, c.date);
    EXPECT_EQ(l.crc, c.crc) << "local header carries the final CRC";
    EXPECT_EQ(l.compressedSize, c.compressedSize);
    EXPECT_EQ(l.uncompressedSize, c.uncompressedSize);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(0, c.extraLength);
    EXPECT_EQ(0, c.commentLength);
    EXPECT_EQ(0, c.diskStart);
    EXPECT_EQ(0u, c.externalAttributes);
    EXPECT_EQ(expected.size(), c.uncompressedSize);
    EXPECT_EQ(Crc(expected), c.crc);
    bool ok = false;
    Bytes data = Inflate(run.bytes, l, &ok);
    EXPECT_TRUE(ok) << "raw deflate stream must end with a final block";
    EXPECT_TRUE(data == expected) << "inflated data differ";
  }

  TempFolder work_;
  std::string source_;
  std::string archive_;
};

TEST_F(ArchiverLayoutTest, EmptyRunWritesOnlyTheEndRecord) {
  ArchiverRun run = RunArchiver(archive_, work_.Join("missing") + Separator() + "*.*");
  EXPECT_EQ(0, run.added);
  EXPECT_TRUE(run.calls.empty()) << "a folder that cannot be listed gives no callback";
  Bytes expected = {0x50, 0x4b, 0x05, 0x06};
  expected.resize(22, 0);
  EXPECT_TRUE(run.bytes == expected) << "size " << run.bytes.size();
  ExpectForeignReadersAccept(archive_);
}

TEST_F(ArchiverLayoutTest, ExampleFolderEntriesOrderAndCallbacks) {
  std::string a = "Hello from a, plain ASCII letters only.\r\n";
  std::string b = "sub file b";
  ASSERT_TRUE(WriteWholeFile(source_ + "a.txt", TextBytes(a)));
  ASSERT_TRUE(test_support::MakeFolder(source_ + "sub"));
  ASSERT_TRUE(WriteWholeFile(source_ + "sub" + Separator() + "b.txt", TextBytes(b)));

  ArchiverRun run = RunArchiver(archive_, source_ + "*.*");
  ASSERT_EQ("", run.zip.error);
  EXPECT_EQ(2, run.added);
  EXPECT_TRUE(run.problems.empty());
  ASSERT_EQ(4u, run.zip.central.size());
  ExpectEntry(run, 0, "", Bytes());
  ExpectEntry(run, 1, "a.txt", TextBytes(a));
  ExpectEntry(run, 2, "sub\\", Bytes());
  ExpectEntry(run, 3, "sub\\b.txt", TextBytes(b));

  std::string sub = source_ + "sub" + Separator();
  archiver_test::Calls expected = {
      {source_, 0.0f}, {source_ + "a.txt", 0.0f}, {sub, 25.0f}, {sub + "b.txt", 25.0f}, {"", 100.0f}};
  EXPECT_EQ(expected, run.calls);

  // Folder entries: CRC 0, the 2-byte empty stream, the 1970 date, no attributes.
  for (size_t i : {0u, 2u}) {
    const zip_parser::CentralHeader& c = run.zip.central[i];
    EXPECT_EQ(0u, c.crc);
    EXPECT_EQ(2u, c.compressedSize);
    EXPECT_EQ(0u, c.uncompressedSize);
    EXPECT_EQ(kEpochDosDate, c.date);
    EXPECT_EQ(0, c.time);
    EXPECT_EQ(0, c.internalAttributes);
    const zip_parser::LocalHeader& l = run.zip.local[i];
    EXPECT_EQ(0x03, run.bytes[l.dataOffset]);
    EXPECT_EQ(0x00, run.bytes[l.dataOffset + 1]);
  }
  EXPECT_EQ(4, run.zip.central[2].nameLength);
  EXPECT_EQ(1, run.zip.central[1].internalAttributes) << "ASCII text";

  // Offsets: entries back to back from byte 0, central directory right after.
  uint32_t at = 0;
  for (size_t i = 0; i < run.zip.local.size(); ++i) {
    EXPECT_EQ(at, run.zip.central[i].localHeaderOffset);
    at = run.zip.local[i].dataOffset + run.zip.local[i].compressedSize;
  }
  const zip_parser::EndRecord& e = run.zip.end;
  EXPECT_EQ(at, e.centralOffset);
  EXPECT_EQ(0u, run.zip.displacement);
  EXPECT_EQ(4, e.entriesOnDisk);
  EXPECT_EQ(4, e.entriesTotal);
  EXPECT_EQ(0, e.diskNumber);
  EXPECT_EQ(0, e.centralDisk);
  EXPECT_EQ(0, e.commentLength);
  uint32_t centralSize = 0;
  for (const auto& c : run.zip.central) centralSize += 46 + c.nameLength;
  EXPECT_EQ(centralSize, e.centralSize);
  EXPECT_EQ(run.bytes.size(), e.centralOffset + e.centralSize + 22u);
  ExpectForeignReadersAccept(archive_);
}

TEST_F(ArchiverLayoutTest, EmptyFileAndEmptyFolder) {
  ASSERT_TRUE(WriteWholeFile(source_ + "empty", Bytes()));
  ASSERT_TRUE(test_support::MakeFolder(source_ + "hollow"));
  ArchiverRun run = RunArchiver(archive_, source_ + "*.*");
  ASSERT_EQ("", run.zip.error);
  EXPECT_EQ(1, run.added) << "an empty file counts as added";
  ASSERT_EQ(3u, run.zip.central.size());
  ExpectEntry(run, 1, "empty", Bytes());
  EXPECT_EQ(2u, run.zip.central[1].compressedSize);
  EXPECT_EQ(0, run.zip.central[1].internalAttributes) << "no data: unclassified";
  ExpectEntry(run, 2, "hollow\\", Bytes());
  ExpectForeignReadersAccept(archive_);
}

TEST_F(ArchiverLayoutTest, OnlyAnEmptyFolderGivesItsEntryAndNoFiles) {
  ArchiverRun run = RunArchiver(archive_, source_ + "*.*");
  EXPECT_EQ(0, run.added);
  ASSERT_EQ(1u, run.zip.central.size());
  EXPECT_EQ("", run.zip.central[0].name);
  archiver_test::Calls expected = {{source_, 0.0f}, {"", 100.0f}};
  EXPECT_EQ(expected, run.calls);
  ExpectForeignReadersAccept(archive_);
}

TEST_F(ArchiverLayoutTest, TextAttributeFollowsZlibClassification) {
  std::string letters(600, 'x');
  for (size_t i = 0; i < letters.size(); ++i) letters[i] = static_cast<char>('a' + (i * 7) % 26);
  Bytes binary = TextBytes(letters);
  binary[3] = 0;  // a zero byte among the first literals
  ASSERT_TRUE(WriteWholeFile(source_ + "bin.dat", binary));
  ASSERT_TRUE(WriteWholeFile(source_ + "letters.txt", TextBytes(letters)));
  ArchiverRun run = RunArchiver(archive_, source_ + "*.*");
  ASSERT_EQ(3u, run.zip.central.size());
  ExpectEntry(run, 1, "bin.dat", binary);
  ExpectEntry(run, 2, "letters.txt", TextBytes(letters));
  EXPECT_EQ(0, run.zip.central[1].internalAttributes);
  EXPECT_EQ(1, run.zip.central[2].internalAttributes);
  ExpectForeignReadersAccept(archive_);
}

TEST_F(ArchiverLayoutTest, DataAcrossChunkEdges) {
  // Sizes around the 102,400-byte chunk: each must come back whole.
  const size_t sizes[] = {1, 102399, 102400, 102401, 204800, 307201};
  for (size_t size : sizes) {
    ASSERT_TRUE(WriteWholeFile(source_ + "f" + std::to_string(size),
                               test_support::PatternBytes(size, static_cast<uint32_t>(size))));
  }
  ArchiverRun run = RunArchiver(archive_, source_ + "*.*");
  ASSERT_EQ("", run.zip.error);
  EXPECT_EQ(6, run.added);
  ASSERT_EQ(7u, run.zip.central.size());
  for (size_t i = 1; i < run.zip.central.size(); ++i) {
    std::string name = run.zip.central[i].name;
    size_t size = std::stoul(name.substr(1));
    ExpectEntry(run, i, name, test_support::PatternBytes(size, static_cast<uint32_t>(size)));
  }
  ExpectForeignReadersAccept(archive_);
}

TEST_F(ArchiverLayoutTest, SameFolderTwiceGivesTheSameBytes) {
  ASSERT_TRUE(WriteWholeFile(source_ + "a.txt", TextBytes("alpha")));
  ASSERT_TRUE(test_support::MakeFolder(source_ + "d"));
  ASSERT_TRUE(WriteWholeFile(source_ + "d" + Separator() + "b", test_support::PatternBytes(5000)));
  ArchiverRun first = RunArchiver(archive_, source_ + "*.*");
  std::string second_path = work_.Join("again.zip");
  ArchiverRun second = RunArchiver(second_path, source_ + "*.*");
  EXPECT_TRUE(first.bytes == second.bytes);
}

TEST_F(ArchiverLayoutTest, AddsToAnArchiveThatHasEntries) {
  ASSERT_TRUE(WriteWholeFile(source_ + "a.txt", TextBytes("alpha")));
  ArchiverRun first = RunArchiver(archive_, source_ + "*.*");
  ASSERT_EQ(2u, first.zip.central.size());
  ArchiverRun second = RunArchiver(archive_, source_ + "*.*", kNameFileOnly, 0);
  ASSERT_EQ("", second.zip.error);
  EXPECT_EQ(1, second.added);
  ASSERT_EQ(3u, second.zip.central.size());
  EXPECT_EQ("a.txt", second.zip.central[2].name);
  EXPECT_EQ("a.txt", second.zip.central[1].name);
  ExpectForeignReadersAccept(archive_);
}

#ifndef _WIN32
TEST_F(ArchiverLayoutTest, TimeFieldsAndClamping) {
  struct Case {
    const char* name;
    int year, month, day, hour, minute, second;
    uint16_t date, time;
  };
  const Case cases[] = {
      {"y2006", 2006, 5, 4, 3, 2, 1, (26 << 9) | (5 << 5) | 4, (3 << 11) | (2 << 5) | 0},
      {"odd59", 2010, 12, 31, 23, 59, 59, (30 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29},
      {"y1975", 1975, 6, 1, 12, 0, 0, 0x0021, 0x0000},          // clamped to 1980-01-01
      {"y1980", 1980, 1, 1, 0, 0, 0, 0x0021, 0x0000},
      {"y2050", 2050, 7, 8, 9, 10, 12, (70 << 9) | (7 << 5) | 8, (9 << 11) | (10 << 5) | 6},
      {"y2120", 2120, 3, 3, 3, 3, 3, 0xFF9F, 0xBF7D},           // clamped to 2107-12-31 23:59:58
  };
  for (const Case& c : cases) {
    std::string path = source_ + c.name;
    ASSERT_TRUE(WriteWholeFile(path, TextBytes(c.name)));
    ASSERT_TRUE(archiver_test::SetLocalTime(path, c.year, c.month, c.day, c.hour, c.minute,
                                            c.second))
        << c.name;
  }
  ArchiverRun run = RunArchiver(archive_, source_ + "*.*");
  ASSERT_EQ("", run.zip.error);
  for (const Case& c : cases) {
    bool found = false;
    for (const auto& h : run.zip.central) {
      if (h.name != c.name) continue;
      found = true;
      EXPECT_EQ(c.date, h.date) << c.name;
      EXPECT_EQ(c.time, h.time) << c.name;
    }
    EXPECT_TRUE(found) << c.name;
  }
  ExpectForeignReadersAccept(archive_);
}
#endif

TEST(DosDateTimeTest, Values) {
  EXPECT_EQ(0xC4210000u, DosDateTime(1970, 1, 1, 0, 0, 0)) << "folder entries";
  EXPECT_EQ(0x00210000u, DosDateTime(1980, 1, 1, 0, 0, 0));
  EXPECT_EQ(0xFF9FBF7Du, DosDateTime(2107, 12, 31, 23, 59, 58));
  EXPECT_EQ(((26u << 9 | 5u << 5 | 4u) << 16) | (3u << 11 | 2u << 5 | 0u),
            DosDateTime(2006, 5, 4, 3, 2, 1));
}

}  // namespace
