// Finding the archive: plain archives, payloads behind stub-sized prefixes,
// any trailer, the trailer that spells the end record's signature (also at
// its real size of 101,010,256 bytes, built sparsely), and files that hold
// no readable archive.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "runtime/system.h"
#include "support/foreign_readers.h"
#include "support/zip_writer.h"

namespace {

using testzip::Entry;

std::vector<Entry> SmallEntries() {
  std::vector<Entry> entries(3);
  entries[0].name = "";
  entries[0].date = 0xC421;
  entries[0].time = 0;
  entries[1].name = "sub\\";
  entries[1].date = 0xC421;
  entries[1].time = 0;
  entries[2].name = "sub\\b.txt";
  entries[2].data = "hello, payload";
  return entries;
}

class ReaderOpenTest : public ::testing::Test {
 protected:
  void SetUp() override { InitRuntime(); }
  void TearDown() override { CloseArchive(); }

  // Opens bytes written to a file; returns the entry count, or -1 when the
  // archive was not found.
  int OpenBytes(const std::string& bytes) {
    std::string path = folder_ / "file.exe";
    testzip::WriteFile(path, bytes);
    if (OpenArchiveForReading(path.c_str()) == 0) return -1;
    ArchiveGlobalInfo info = {};
    EXPECT_EQ(0, GetArchiveInfo(&info));
    return (int)info.entryCount;
  }

  testzip::TempFolder folder_;
};

TEST_F(ReaderOpenTest, PayloadIsFoundBehindAnyPrefixAndBeforeAnyTrailer) {
  std::string archive = testzip::BuildArchive(SmallEntries());
  struct Case {
    const char* label;
    std::string bytes;
  };
  std::string signature("PK\x05\x06", 4);
  const Case cases[] = {
      {"plain archive", archive},
      {"stub of 59,392 bytes with trailer", testzip::OutputFile(archive)},
      {"no prefix with trailer", testzip::OutputFile(archive, 0)},
      {"one-byte prefix", testzip::OutputFile(archive, 1)},
      {"prefix of 4,095 bytes", testzip::OutputFile(archive, 4095)},
      {"prefix of 120,832 bytes", testzip::OutputFile(archive, 120832)},
      {"other trailer bytes", testzip::StubPrefix(59392) + archive + "abcd"},
      {"no trailer", testzip::StubPrefix(59392) + archive},
      {"trailer spelling the signature", testzip::StubPrefix(59392) + archive + signature},
      // Authenticode signing appends its certificate block, 8-byte aligned,
      // behind the trailer: the record is then no longer 26 bytes from the end.
      {"signature block behind the trailer",
       testzip::OutputFile(archive) + std::string(3, '\0') + testzip::StubPrefix(1513).substr(2)},
      {"65,000 bytes behind the trailer",
       testzip::OutputFile(archive) + testzip::StubPrefix(65002).substr(2)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(3, OpenBytes(c.bytes)) << c.label;
    ArchiveEntryInfo entry;
    ASSERT_EQ(0, GoToFirstEntry()) << c.label;
    ASSERT_EQ(0, GoToNextEntry()) << c.label;
    ASSERT_EQ(0, GoToNextEntry()) << c.label;
    ASSERT_EQ(0, GetCurrentEntryInfo(&entry)) << c.label;
    EXPECT_STREQ("sub\\b.txt", entry.name.c_str()) << c.label;
    EXPECT_EQ(0, TestCurrentEntry()) << c.label << ": offsets shifted by the prefix";
    EXPECT_EQ(kReaderEndOfEntries, GoToNextEntry()) << c.label;
    EXPECT_EQ(0, GetCurrentEntryInfo(&entry)) << c.label << ": the last entry stays current";
    EXPECT_STREQ("sub\\b.txt", entry.name.c_str()) << c.label;
    CloseArchive();
  }
  std::string path = folder_ / "plain.zip";
  testzip::WriteFile(path, archive);
  std::string output = folder_ / "output.exe";
  testzip::WriteFile(output, testzip::OutputFile(archive));
#ifndef _WIN32
  EXPECT_EQ("", foreign_readers::CheckAll(path));
  EXPECT_EQ("", foreign_readers::CheckAll(output));
#endif
}

TEST_F(ReaderOpenTest, FilesWithoutAReadableArchiveGiveZero) {
  std::string archive = testzip::BuildArchive(SmallEntries());
  std::string output = testzip::OutputFile(archive);
  std::string diskOne = output;
  diskOne[output.size() - 4 - 22 + 4] = 1;  // number of this disk
  std::string unequalCounts = output;
  unequalCounts[output.size() - 4 - 22 + 8] = 2;
  std::string centralTooLong = output;
  centralTooLong[output.size() - 4 - 22 + 12] += 100;  // directory would pass the record
  struct Case {
    const char* label;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty file", ""},
      {"stub alone", testzip::StubPrefix(59392)},
      {"end record cut off", output.substr(0, output.size() - 26)},
      {"cut inside the end record", output.substr(0, output.size() - 15)},
      {"cut inside the central directory", output.substr(0, output.size() - 40)},
      {"disk number 1", diskOne},
      {"unequal entry counts", unequalCounts},
      {"end record beyond the last 65,535 bytes",
       testzip::OutputFile(archive) + testzip::StubPrefix(70002).substr(2)},
      {"central directory past the end record", centralTooLong},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(-1, OpenBytes(c.bytes)) << c.label;
    EXPECT_EQ(kReaderFailed, GoToFirstEntry()) << c.label << ": the reader stays closed";
  }
  EXPECT_EQ(0, OpenArchiveForReading((folder_ / "missing.exe").c_str()));
  EXPECT_EQ(0, OpenArchiveForReading(""));
}

TEST_F(ReaderOpenTest, NoArchiveOpenGivesMinusOne) {
  ArchiveGlobalInfo info;
  ArchiveEntryInfo entry;
  EXPECT_EQ(-1, GetArchiveInfo(&info));
  EXPECT_EQ(-1, GoToFirstEntry());
  EXPECT_EQ(-1, GoToNextEntry());
  EXPECT_EQ(-1, GetCurrentEntryInfo(&entry));
  EXPECT_EQ(-1, ExtractCurrentEntry((folder_ / "out").c_str(), 1));
  EXPECT_EQ(-1, TestCurrentEntry());
  EXPECT_EQ(0, CloseArchive());
}

// A payload of exactly 101,010,256 bytes: its trailer is "PK\5\6". The one
// stored entry's data is a hole in a sparse file, so this costs little disk.
TEST_F(ReaderOpenTest, PayloadOf101010256BytesStillOpens) {
  const uint32_t kCollisionPayloadBytes = 101010256u;
  const std::string name = "zeros.bin";
  const uint32_t overhead = 30 + 46 + 2 * (uint32_t)name.size() + 22;
  const uint32_t dataBytes = kCollisionPayloadBytes - overhead;
  std::vector<char> zeros(1 << 20, 0);
  uLong crc = crc32(0, nullptr, 0);
  for (uint32_t left = dataBytes; left > 0;) {
    uint32_t step = left < zeros.size() ? left : (uint32_t)zeros.size();
    crc = crc32(crc, (const Bytef*)zeros.data(), step);
    left -= step;
  }
  std::string local = "PK\x03\x04";
  testzip::Put16(local, 10);
  testzip::Put16(local, 0);
  testzip::Put16(local, 0);  // stored
  testzip::Put16(local, testzip::DosTime(12, 0, 0));
  testzip::Put16(local, testzip::DosDate(2020, 1, 2));
  testzip::Put32(local, (uint32_t)crc);
  testzip::Put32(local, dataBytes);
  testzip::Put32(local, dataBytes);
  testzip::Put16(local, (uint32_t)name.size());
  testzip::Put16(local, 0);
  local += name;
  std::string tail = "PK\x01\x02";
  testzip::Put16(tail, 0);
  testzip::Put16(tail, 10);
  testzip::Put16(tail, 0);
  testzip::Put16(tail, 0);
  testzip::Put16(tail, testzip::DosTime(12, 0, 0));
  testzip::Put16(tail, testzip::DosDate(2020, 1, 2));
  testzip::Put32(tail, (uint32_t)crc);
  testzip::Put32(tail, dataBytes);
  testzip::Put32(tail, dataBytes);
  testzip::Put16(tail, (uint32_t)name.size());
  for (int i = 0; i < 4; ++i) testzip::Put16(tail, 0);
  testzip::Put32(tail, 0);
  testzip::Put32(tail, 0);
  tail += name;
  tail += "PK\x05\x06";
  testzip::Put16(tail, 0);
  testzip::Put16(tail, 0);
  testzip::Put16(tail, 1);
  testzip::Put16(tail, 1);
  testzip::Put32(tail, 46 + (uint32_t)name.size());
  testzip::Put32(tail, (uint32_t)local.size() + dataBytes);
  testzip::Put16(tail, 0);
  testzip::Put32(tail, kCollisionPayloadBytes);
  ASSERT_EQ(std::string("PK\x05\x06", 4), tail.substr(tail.size() - 4)) << "trailer is the signature";

  std::string path = folder_ / "big.exe";
  {
    std::ofstream out(path, std::ios::binary);
    std::string stub = testzip::StubPrefix(testzip::kStubImageBytes);
    out.write(stub.data(), (std::streamsize)stub.size());
    out.write(local.data(), (std::streamsize)local.size());
    out.seekp((std::streamoff)dataBytes, std::ios::cur);  // a hole of zeros
    out.write(tail.data(), (std::streamsize)tail.size());
  }
  ASSERT_EQ((uint64_t)testzip::kStubImageBytes + kCollisionPayloadBytes + 4,
            (uint64_t)std::filesystem::file_size(path));
  ASSERT_NE(0, OpenArchiveForReading(path.c_str()));
  ArchiveGlobalInfo info = {};
  EXPECT_EQ(0, GetArchiveInfo(&info));
  EXPECT_EQ(1u, info.entryCount);
  ArchiveEntryInfo entry;
  ASSERT_EQ(0, GetCurrentEntryInfo(&entry));
  EXPECT_EQ(dataBytes, entry.size);
  EXPECT_EQ(0, TestCurrentEntry()) << "every byte read back with the right CRC";
}

}  // namespace
