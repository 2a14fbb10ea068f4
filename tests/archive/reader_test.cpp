// The archive reader: the archive found behind any prefix and before any trailer, entries
// written below a destination, and crafted entries that must fail alone and replace nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/entry_name.h"
#include "archive/extraction.h"
#include "archive/part_file.h"
#include "runtime/file_info.h"
#include "runtime/system.h"
#include "runtime/test_support.h"
#include "support/handshake.h"
#include "support/zip_writer.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;
using testzip::Entry;
using testzip::FolderEntry;

namespace {

const bool kWindows = kPathSeparator == '\\';

std::string Pattern(size_t size, uint32_t seed) {
  std::vector<unsigned char> bytes = test_support::PatternBytes(size, seed);
  return std::string(bytes.begin(), bytes.end());
}

// Everything below folder as sorted relative paths, "/" after folders.
std::vector<std::string> Tree(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    names.push_back(fs::relative(item.path(), folder).generic_string() +
                    (item.is_directory() ? "/" : ""));
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    SetLeftPartSweep(RemoveLeftPartFiles);  // as vezovud unpack has it
  }
  void TearDown() override { CloseArchive(); }

  // Writes bytes to file.exe and opens it: the entry count, or -1 when no archive is found.
  int OpenBytes(const std::string& bytes, int32_t searchBytes = kStubSearchBytes) {
    CloseArchive();  // an open archive keeps its file from being written on Windows
    testzip::WriteFile(folder_ / "file.exe", bytes);
    if (OpenArchiveChecked((folder_ / "file.exe").c_str(), searchBytes) != 0) return -1;
    ArchiveGlobalInfo info = {};
    EXPECT_EQ(0, GetArchiveInfo(&info));
    return (int)info.entryCount;
  }
  int Open(const std::vector<Entry>& entries) {
    return OpenBytes(testzip::gOutputFile(testzip::BuildArchive(entries)));
  }

  // Extracts file.exe as the stub and the tool do (with writers_ threads): each entry's result.
  // The archive is open again afterwards, its first entry current.
  std::vector<int> ExtractAll(const std::string& destination) {
    std::vector<int> results;
    ExtractionReport report;
    if (writers_ > 0) {
      ExtractArchiveWithWriters((folder_ / "file.exe").c_str(), destination.c_str(), writers_,
                                kStubSearchBytes, CollectResult, &results, &report);
    } else {
      ExtractArchive((folder_ / "file.exe").c_str(), destination.c_str(), kRunExtract,
                     kStubSearchBytes, CollectResult, &results, &report);
    }
    EXPECT_EQ((int64_t)results.size(), report.total);
    EXPECT_EQ(report.total, report.done + report.failed);
    FreeExtractionReport(&report);
    OpenArchiveForReading((folder_ / "file.exe").c_str());
    return results;
  }
  static void CollectResult(void* context, const ExtractionStep& step) {
    if (step.kind == kStepEntry) static_cast<std::vector<int>*>(context)->push_back(step.result);
  }

  testzip::TempFolder folder_;
  std::string destination_ = folder_ / "out";
  int writers_ = 0;
};

TEST_F(ReaderTest, ArchiveIsFoundBehindAnyPrefixAndBeforeAnyTrailerOrNotAtAll) {
  std::string archive = testzip::BuildArchive(
      {FolderEntry(""), FolderEntry("sub\\"), Entry{"sub\\b.txt", "hello, payload"}});
  std::string output = testzip::gOutputFile(archive);
  std::string stub = testzip::StubPrefix(testzip::kStubImageBytes);
  size_t end = output.size() - 26;  // where the end record starts
  std::string diskOne = output, unequalCounts = output, centralTooLong = output;
  diskOne[end + 4] = 1;
  unequalCounts[end + 8] = 2;
  centralTooLong[end + 12] += 100;  // the directory would pass the record
  std::string commented = archive;  // the longest comment a plain archive can carry
  commented[commented.size() - 2] = commented[commented.size() - 1] = (char)0xFF;
  commented += std::string(65535, 'c');
  const struct {
    const char* label;
    std::string bytes;
    int entries;    // -1: no archive found (in the stub's window)
    int wide = -2;  // the same in the command line's wider window; -2: as entries
  } cases[] = {
      {"plain archive", archive, 3},
      {"empty archive of 22 bytes", testzip::BuildArchive({}), 0},
      {"comment of 65,535 bytes", commented, -1, 3},
      {"comment of 65,535 bytes, trailer", commented + "abcd", -1, 3},
      {"stub of 59,392 bytes and trailer", output, 3},
      {"no prefix, trailer", testzip::gOutputFile(archive, 0), 3},
      {"prefix of 4,095 bytes", testzip::gOutputFile(archive, 4095), 3},
      {"other trailer bytes", stub + archive + "abcd", 3},
      {"no trailer", stub + archive, 3},
      // The trailer of a payload of 101,010,256 bytes.
      {"trailer spelling the signature", stub + archive + std::string("PK\x05\x06", 4), 3},
      // Authenticode signing appends its certificate block behind the trailer.
      {"signature block", output + std::string(3, '\0') + testzip::StubPrefix(1513).substr(2), 3},
      {"65,000 bytes behind the trailer", output + testzip::StubPrefix(65002).substr(2), 3},
      {"end record beyond the last 65,535 bytes", output + testzip::StubPrefix(70002).substr(2),
       -1},
      {"empty file", "", -1},
      {"stub alone", stub, -1},
      {"end record cut off", output.substr(0, end), -1},
      {"cut inside the end record", output.substr(0, output.size() - 15), -1},
      {"cut inside the central directory", output.substr(0, output.size() - 40), -1},
      {"disk number 1", diskOne, -1},
      {"unequal entry counts", unequalCounts, -1},
      {"central directory past the end record", centralTooLong, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.wide == -2 ? c.entries : c.wide, OpenBytes(c.bytes, kWideSearchBytes));
    EXPECT_EQ(c.entries, OpenBytes(c.bytes));
    ArchiveEntryInfo entry;
    if (c.entries == 0) continue;
    if (c.entries < 0) {  // the reader stays closed
      EXPECT_EQ(-1, GetCurrentEntryInfo(&entry));
      EXPECT_EQ(-1, ExtractCurrentEntry(destination_.c_str(), 1));
      EXPECT_EQ(-1, TestCurrentEntry());
      continue;
    }
    ASSERT_EQ(0, GoToNextEntry());
    ASSERT_EQ(0, GoToNextEntry());
    EXPECT_EQ(0, TestCurrentEntry()) << "offsets shifted by the prefix";
    EXPECT_EQ(kReaderEndOfEntries, GoToNextEntry());
    ASSERT_EQ(0, GetCurrentEntryInfo(&entry)) << "the last entry stays current";
    EXPECT_STREQ("sub\\b.txt", entry.name.c_str());
  }
  EXPECT_EQ(0, OpenArchiveForReading((folder_ / "missing.exe").c_str()));
  EXPECT_EQ(0, OpenArchiveForReading(""));
}

TEST_F(ReaderTest, ArchiveComesOutWholeAndReplacesWhatWasThere) {
  std::string longName = "folder-" + std::string(120, 'x') + "\\file-" + std::string(10, 'y');
  std::vector<Entry> entries = {FolderEntry(""),
                                FolderEntry("sub\\"),
                                FolderEntry("sub\\empty\\"),
                                FolderEntry("sub/slashed/"),
                                {"sub\\zero.txt", ""},
                                testzip::Stored({" sub\\stored-empty ", ""}),
                                testzip::Stored({"stored.bin", Pattern(100000, 5)}),
                                {longName, "a name over 100 bytes"}};
  // No folder entries above deep/er, spaces around a name, drive prefixes, names of the old
  // part files and of the part files now, which are ordinary names in an archive.
  for (const char* name : {"a.txt", "deep/er/c.txt", " name.txt ", "E:\\data\\x.txt", "e:/y.txt",
                           "~0", ".~vzabcdefgh"})
    entries.push_back({name, name});
  for (int size : {65535, 65536, 65537, 3 * 65536 + 31, 300000})  // around inflate's window
    entries.push_back({"e" + std::to_string(size), Pattern(size, size)});
  ASSERT_EQ((int)entries.size(), Open(entries));
  // Alone, and with writer threads that create the small files.
  for (int writers : {0, 3}) {
    SCOPED_TRACE(writers);
    writers_ = writers;
    fs::remove_all(folder_ / "new");
    std::string nested = folder_ / "new" + kPathSeparator + "deeper";
    EXPECT_EQ(std::vector<int>(entries.size(), 0), ExtractAll(nested));
    std::string longFolder = "folder-" + std::string(120, 'x') + "/";
    std::istringstream listed(
        ".~vzabcdefgh a.txt data/ data/x.txt deep/ deep/er/ deep/er/c.txt e196639 e300000 e65535 "
        "e65536 e65537 " +
        longFolder + " " + longFolder +
        "file-yyyyyyyyyy name.txt stored.bin sub/ sub/empty/ "
        "sub/slashed/ sub/stored-empty sub/zero.txt y.txt ~0");
    const std::vector<std::string> tree(std::istream_iterator<std::string>(listed), {});
    EXPECT_EQ(tree, Tree(nested));
    for (const char* changed : {"a.txt", "sub/zero.txt", "e65536"})
      testzip::WriteFile(nested + "/" + changed, "old contents");
    // A part file lies beside its target whatever the final separator, never in the folder
    // above the destination or the working folder (both "new" here).
    fs::path before = fs::current_path();
    fs::current_path(folder_ / "new");
    std::vector<int> results = ExtractAll(nested + (writers ? kPathSeparator : '/'));
    fs::current_path(before);
    EXPECT_EQ(std::vector<int>(entries.size(), 0), results);
    EXPECT_EQ(tree, Tree(nested)) << "a final separator changes nothing; no part files left";
    std::vector<std::string> beside;
    for (const auto& item : fs::directory_iterator(folder_ / "new"))
      beside.push_back(item.path().filename().string());
    EXPECT_EQ(std::vector<std::string>({"deeper"}), beside) << "nothing beside the destination";
    for (const Entry& e : entries) {
      std::string name = DropDrivePrefix(CleanEntryName(e.name.c_str())).c_str();
      std::replace(name.begin(), name.end(), '\\', '/');
      if (name.empty() || name.back() == '/') continue;
      EXPECT_EQ(e.data, testzip::ReadFile(nested + "/" + name)) << name;
    }
  }
}

// Writer threads, which read every file's data from the archive themselves, give the serial
// outcome: a later duplicate replaces the earlier file, also one spelled with an empty or "."
// component, a file in the way of a later folder fails that entry, a stored name in the part
// files' pattern is an ordinary file, a part file that an ended run left goes, stored data, a
// local header with another name, a wrong CRC and a short stream come out alike, every step is
// reported in entry order.
TEST_F(ReaderTest, WritersGiveWhatOneThreadGives) {
  std::vector<Entry> entries;
  for (int i = 0; i < 600; ++i)
    entries.push_back({"f" + std::to_string(i % 7) + "\\" + std::to_string(i), Pattern(i * 37, i)});
  entries.insert(entries.begin() + 100, {"dup.txt", "first"});
  entries.insert(entries.begin() + 120, {"DUP.txt", "other case"});
  entries.insert(entries.begin() + 140, {"dup.txt", "second"});
  entries.insert(entries.begin() + 160, {"x", "a file"});
  entries.insert(entries.begin() + 161, {"x\\y", "below a file"});
  entries.insert(entries.begin() + 200, {"f4\\alias", "first"});
  entries.insert(entries.begin() + 201, {"f4\\\\alias", "second"});
  entries.insert(entries.begin() + 202, {"f4\\.\\alias", "third"});
  entries.insert(entries.begin() + 250, {"f4\\.~vz0123abcd", "the name of a part file"});
  entries.insert(entries.begin() + 251, {"f4\\old", Pattern(300000, 4)});
  entries.insert(entries.begin() + 300, {"big.bin", Pattern(kSpreadFileBytes + 1, 9)});
  entries.insert(entries.begin() + 400, testzip::WithCrc({"f1\\bad", "data"}, 1));
  entries.insert(entries.begin() + 420, testzip::Stored({"f2\\stored", Pattern(70000, 3)}));
  entries.insert(entries.begin() + 430, testzip::WithSize({"f3\\short", "data"}, 9));
  testzip::Entry renamed = {"f5\\renamed", Pattern(5000, 5)};
  renamed.localName = "f5\\other name";
  entries.insert(entries.begin() + 440, renamed);
  ASSERT_EQ((int)entries.size(), Open(entries));
  std::string threaded = folder_ / "threaded";
  for (const std::string& destination : {destination_, threaded}) {
    fs::create_directories(destination + "/f4");
    testzip::WriteFile(destination + "/f4/old", "there before");
    testzip::WriteFile(destination + "/f4/.~vzleft0000", "left by an ended run");
  }
  std::vector<int> serial = ExtractAll(destination_);
  std::vector<std::string> tree = Tree(destination_);
  EXPECT_EQ(kReaderNotAFolder, serial[161]);
  EXPECT_EQ(kReaderCrcMismatch, serial[400]);
  EXPECT_EQ(kReaderDataShort, serial[430]);
  EXPECT_FALSE(fs::exists(destination_ + "/f4/.~vzleft0000"));
  writers_ = 2;
  EXPECT_EQ(serial, ExtractAll(threaded));
  EXPECT_EQ(tree, Tree(threaded));
  for (const std::string& name : tree) {
    if (name.back() == '/') continue;
    EXPECT_EQ(testzip::ReadFile(destination_ + "/" + name),
              testzip::ReadFile(threaded + "/" + name))
        << name;
    EXPECT_EQ(fs::last_write_time(destination_ + "/" + name),
              fs::last_write_time(threaded + "/" + name))
        << name;
  }
}

#ifndef _WIN32
// Told to stop at a full disk, as vezovud unpack is: the entry that met it leaves no part file,
// the files before it stay whole, the entries after it are skipped, on one thread or with writer
// threads (where files written side by side may meet the full disk in either order, so that only
// the files reported done are known whole). The bytes done grow to the central directory's total.
TEST_F(ReaderTest, AFullDiskStopsTheRunAtTheFirstWriteThatFails) {
  std::vector<Entry> entries;
  for (int i = 0; i < 20; ++i) entries.push_back({"small\\" + std::to_string(i), Pattern(999 + i, i)});
  entries.push_back({"big.bin", Pattern(3000000, 7)});
  for (int i = 0; i < 20; ++i) entries.push_back({"after\\" + std::to_string(i), Pattern(500, i)});
  int64_t total = 0;
  for (const Entry& e : entries) total += e.data.size();
  ASSERT_EQ(41, Open(entries));
  CloseArchive();
  for (int writers : {0, 2}) {
    std::string disk = folder_ / ("disk" + std::to_string(writers));
    fs::create_directories(disk);
    std::string words = test_support::OnSmallDisk(disk, 1024 * 1024, [&]() {
      SetStopOnFullDisk(1);
      SetStepByteCounts(1);
      ExtractionReport report;
      // Per step: bytes done, bytes in all, and for an entry its index and result.
      std::vector<int64_t> bytes;
      auto step = [](void* context, const ExtractionStep& s) {
        auto* seen = static_cast<std::vector<int64_t>*>(context);
        seen->insert(seen->end(), {s.bytesDone, s.bytesTotal, s.kind == kStepEntry ? s.index : -1,
                                   s.result});
      };
      std::string out = disk + "/out";
      if (writers > 0) {
        ExtractArchiveWithWriters((folder_ / "file.exe").c_str(), out.c_str(), writers,
                                  kStubSearchBytes, step, &bytes, &report);
      } else {
        ExtractArchive((folder_ / "file.exe").c_str(), out.c_str(), kRunExtract, kStubSearchBytes,
                       step, &bytes, &report);
      }
      std::string found;
      if (!IsDiskFull(report.stoppedBy)) found += "stopped by " + std::to_string(report.stoppedBy);
      if (report.failed != 1 || report.done + report.failed + report.skipped != 41 ||
          (writers == 0 && report.done != 20)) {
        found += "; done " + std::to_string(report.done) + ", failed " +
                 std::to_string(report.failed) + ", skipped " + std::to_string(report.skipped);
      }
      for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
        int64_t index = bytes[i + 2];
        if (index < 0 || bytes[i + 3] != 0) continue;
        std::string name = entries[index].name;
        std::replace(name.begin(), name.end(), '\\', '/');
        if (testzip::ReadFile(out + "/" + name) != entries[index].data) found += "; " + name + " not whole";
      }
      for (int i = 0; writers == 0 && i < 20; ++i) {
        if (testzip::ReadFile(out + "/small/" + std::to_string(i)) != entries[i].data)
          found += "; small/" + std::to_string(i) + " not whole";
      }
      for (const auto& item : fs::recursive_directory_iterator(disk)) {
        std::string name = item.path().filename().string();
        if (name.rfind(".~vz", 0) == 0 || name == "big.bin") found += "; " + name + " left";
      }
      for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
        if (bytes[i + 1] != total || (i >= 4 && bytes[i] <= bytes[i - 4]))
          found += "; bytes " + std::to_string(bytes[i]) + " of " + std::to_string(bytes[i + 1]);
      }
      FreeExtractionReport(&report);
      SetStopOnFullDisk(0);
      SetStepByteCounts(0);
      return found;
    });
    if (words.rfind("skip:", 0) == 0) GTEST_SKIP() << words;
    EXPECT_EQ("", words) << writers << " writers";
  }
}
#endif

// What other writers put in archives, read as 7-Zip and Info-ZIP read it: Zip64 extra fields,
// folders by MS-DOS attribute only, a legacy local name, a Unicode Path field.
TEST_F(ReaderTest, OtherWritersArchivesReadAsOtherReadersReadThem) {
  // An entry with "version made by" and external attributes of another host.
  auto made = [](Entry e, uint16_t madeBy, uint32_t attributes) {
    e.madeBy = madeBy;
    e.attributes = attributes;
    return e;
  };
  Entry z64 = Entry{"z64.txt", Pattern(70000, 9)}, z64s = testzip::Stored({"z64s.bin", "stored"});
  z64.zip64 = z64s.zip64 = true;
  Entry legacy{"central.txt", "c"}, unicode{"caf\x82.txt", "u"}, other{"plain.txt", "p"};
  legacy.localName = "LEGACY~1.TXT";
  unicode.unicodePath = "caf\xC3\xA9.txt";
  unicode.localName = "CAFE.TXT";
  other.unicodePath = "other.txt";
  other.unicodeCrc = 1;
  const struct {
    const char* label;
    Entry entry;
    const char* path;  // where it lands; ends in "/" for a folder
  } cases[] = {
      {"Zip64 sizes, deflated", z64, "z64.txt"},
      {"Zip64 sizes, stored", z64s, "z64s.bin"},
      {"folder by attribute, MS-DOS", made({"dosdir", ""}, 0x0014, 0x10), "dosdir/"},
      {"folder by attribute, NTFS", made({"ntfs\\dir", ""}, 0x0B3F, 0x10), "ntfs/dir/"},
      {"attribute 0x10 from Unix is no folder", made({"unixfile", ""}, 0x0314, 0x10), "unixfile"},
      {"folder by attribute, stored", made(testzip::Stored({"stored dir", ""}), 0x0014, 0x10),
       "stored dir/"},
      // The attribute alone makes no folder of an entry with data: 7-Zip, unzip and Python's
      // zipfile write it as a file too.
      {"attribute 0x10 with data is a file", made({"report.txt", Pattern(1900, 3)}, 0x0014, 0x10),
       "report.txt"},
      {"local header with a legacy name", legacy, "central.txt"},
      {"Unicode Path field", unicode, "caf\xC3\xA9.txt"},
      {"Unicode Path field for another name", other, "plain.txt"},
      // As the Maker writes names on a Western Windows: without the flag.
      {"Windows-1252 name", Entry{"R\xE9sum\xE9.txt", "r"}, "R\xC3\xA9sum\xC3\xA9.txt"},
      // Folder names that end in dots or a space, as Unix writers store them: Windows keeps
      // those in a folder of a path but drops them from its last name, so the folder made and
      // checked and the folder written into must be one ("v2" and "draft" there).
      {"folder name ending in two dots", Entry{"v2..\\a.txt", "a"},
       kWindows ? "v2/a.txt" : "v2../a.txt"},
      {"folder name ending in a space", Entry{"draft \\b.txt", "b"},
       kWindows ? "draft/b.txt" : "draft /b.txt"},
  };
  std::vector<Entry> entries;
  for (const auto& c : cases) entries.push_back(c.entry);
  entries.push_back(Entry{"dosdir\\inside.txt", "below the folder"});
  ASSERT_EQ((int)entries.size(), Open(entries));
  std::vector<int> results = ExtractAll(destination_);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.label);
    EXPECT_EQ(0, results[i]);
    std::string path = destination_ + "/" + c.path;
    if (path.back() == '/') {
      EXPECT_TRUE(fs::is_directory(path));
    } else {
      EXPECT_TRUE(c.entry.data == testzip::ReadFile(path)) << "the bytes came out as stored";
    }
  }
  EXPECT_EQ("below the folder", testzip::ReadFile(destination_ + "/dosdir/inside.txt"));
  ExtractionReport report;
  EXPECT_EQ(0, ExtractArchive((folder_ / "file.exe").c_str(), "", kRunTest, kWideSearchBytes,
                              nullptr, nullptr, &report));
}

TEST_F(ReaderTest, WriteTimeComesFromTheStoredFieldsWithSecondsAtZero) {
  using testzip::DosDate;
  using testzip::DosTime;
  const struct {
    const char* name;
    uint16_t date, time;
    const char* expected;  // null: a damaged date keeps the time of writing
  } cases[] = {
      {"stamped", DosDate(2006, 5, 17), DosTime(14, 37, 58), "2006-05-17 14:37:00"},
      {"after 2037", DosDate(2099, 12, 31), DosTime(23, 59, 0), "2099-12-31 23:59:00"},
      {"epoch", 0xC421, 0, "2078-01-01 00:00:00"},  // the archiver's 1970 fields
      {"empty", DosDate(2011, 3, 4), DosTime(9, 15, 30), "2011-03-04 09:15:00"},
      {"february 30", DosDate(2010, 2, 30), 0, nullptr},
      {"month 0", DosDate(2010, 0, 10), 0, nullptr},
  };
  std::vector<Entry> entries;
  for (const auto& c : cases)
    entries.push_back({c.name, std::string(c.name) == "empty" ? "" : "x", 8, 2, c.time, c.date});
  Open(entries);
  EXPECT_EQ(std::vector<int>(entries.size(), 0), ExtractAll(destination_));
  for (const auto& c : cases) {
    LocalTimeFields t = {};
    ASSERT_EQ(1, GetFileModificationTime((destination_ + kPathSeparator + c.name).c_str(), &t));
    char got[40];
    snprintf(got, sizeof(got), "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
             t.minute, t.second);
    if (c.expected) {
      EXPECT_STREQ(c.expected, got) << c.name;
    } else {
      EXPECT_GE(t.year, 2024) << c.name << ": this year, not 2010";
    }
  }
}

TEST_F(ReaderTest, CraftedEntriesFailAloneAndNeverReplaceExistingFiles) {
  using testzip::WithCrc;
  using testzip::WithSize;
  Entry reserved = Entry{"victim.txt", "\x07"};  // a deflate block of reserved type 3
  reserved.raw = true;
  Entry lzma = testzip::Stored(Entry{"victim.txt", "data"});
  lzma.method = 14;  // not something the reader inflates
  Entry bzip2 = lzma;
  bzip2.method = 12;
  std::string tooLong;  // 40,000 bytes: past 4,096 and past 32,767
  for (int i = 0; i < 200; ++i) tooLong += std::string(199, 'n') + (i < 199 ? "\\" : "");
  Entry encrypted = Entry{"victim.txt", "secret"};
  encrypted.flag |= 1;
  Entry encryptedFolder = FolderEntry("locked\\");
  encryptedFolder.flag |= 1;
  Entry spaceDamaged = Entry{" ", "\x07"};  // a space for a name, a reserved deflate block
  spaceDamaged.raw = true;
  spaceDamaged.size = 10;
  const struct {
    const char* label;
    Entry entry;
    int expected;
  } cases[] = {
      {"parent component", {"..\\victim.txt", "evil"}, kReaderUnsafeName},
      {"absolute slash, empty file", {"/victim.txt", ""}, kReaderUnsafeName},
      {"colon later", {"sub\\a:victim.txt", "evil"}, kReaderUnsafeName},
      // A colon never drops what comes before it: a drive is only a letter at the start.
      {"drive prefix later", {"sub\\C:\\victim.txt", "evil"}, kReaderUnsafeName},
      {"colon folder", {"di:/victim.txt", "evil"}, kReaderUnsafeName},
      {"colon and backslash later", {"x/y:\\victim.txt", "evil"}, kReaderUnsafeName},
      {"drive without a separator", {"C:victim.txt", "evil"}, kReaderUnsafeName},
      {"parent folder entry", FolderEntry("../escaped/"), kReaderUnsafeName},
      {"name past every path limit", {tooLong, "long"}, kReaderNameTooLong},
      {"bad CRC", WithCrc({"victim.txt", "replacement"}, 0x12345678), kReaderCrcMismatch},
      {"declares 2 GB, has little", WithSize({"victim.txt", "short"}, 2000000000u),
       kReaderDataShort},
      {"size 0, CRC of data", WithSize({"victim.txt", "had data"}, 0), kReaderCrcMismatch},
      {"size 0, CRC of data, stored", testzip::Stored(WithSize({"victim.txt", "had"}, 0)),
       kReaderDamagedEntry},
      {"size 0, CRC not 0", WithCrc({"victim.txt", ""}, 0xDEADBEEF), kReaderCrcMismatch},
      {"reserved deflate block", reserved, Z_DATA_ERROR},
      {"method 14", lzma, kReaderUnsupportedMethod},
      {"method 12, bytes that would pass through raw", bzip2, kReaderUnsupportedMethod},
      {"encrypted", encrypted, kReaderEncrypted},
      {"encrypted folder entry", encryptedFolder, kReaderEncrypted},
      // Folders hold nothing: a folder entry with data, or a wrong CRC, fails; so does the empty
      // name (the packed folder itself) with data.
      {"folder entry with data", {"notes/", Pattern(500, 1)}, kReaderFolderHoldsData},
      {"folder entry with data and a wrong CRC", WithCrc({"notes\\", Pattern(500, 1)}, 7),
       kReaderFolderHoldsData},
      {"folder entry with data, stored", testzip::Stored({"notes\\", "data"}),
       kReaderFolderHoldsData},
      {"folder entry of size 0, CRC not 0", WithCrc(FolderEntry("empty\\"), 0xDEADBEEF),
       kReaderCrcMismatch},
      {"empty name with data", {"", "data"}, kReaderFolderHoldsData},
      {"a space for a name, damaged data", spaceDamaged, kReaderFolderHoldsData},
  };
#ifndef _WIN32
  struct rusage before, after;
  getrusage(RUSAGE_SELF, &before);
#endif
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(destination_);
    fs::create_directories(destination_);
    testzip::WriteFile(destination_ + "/victim.txt", "keep me");
    testzip::WriteFile(folder_ / "victim.txt", "keep me too");
    Open({Entry{"before.txt", "b"}, c.entry, Entry{"after.txt", "a"}});
    std::vector<int> results = ExtractAll(destination_);
    EXPECT_EQ(std::vector<int>({0, c.expected, 0}), results) << "a failed entry stops nothing";
    GoToFirstEntry();
    GoToNextEntry();
    // A name too long for this destination may fit another; every other fault is the entry's.
    EXPECT_EQ(c.expected == kReaderNameTooLong ? 0 : c.expected, TestCurrentEntry())
        << "test gives unpack's verdict";
    EXPECT_EQ("keep me", testzip::ReadFile(destination_ + "/victim.txt"));
    EXPECT_EQ("keep me too", testzip::ReadFile(folder_ / "victim.txt"));
    EXPECT_FALSE(fs::exists(folder_ / "escaped"));
    EXPECT_EQ(std::vector<std::string>({"after.txt", "before.txt", "victim.txt"}),
              Tree(destination_))
        << "nothing else written, no part file, no shortened name";
  }
#ifndef _WIN32
  getrusage(RUSAGE_SELF, &after);
  // AddressSanitizer keeps freed memory aside, so the peak says nothing there.
  if (!test_support::kUnderAddressSanitizer) {
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "2 GB declared: peak grew > 64 MB";
  }
#endif
}

void Patch(std::string& s, size_t offset, int width, uint32_t value) {
  for (int i = 0; i < width; ++i) s[offset + i] = (char)((value >> (8 * i)) & 0xff);
}

// A Zip64 end record at recordOffset and its locator: count entries, the directory's place.
std::string Zip64Ends(uint32_t count, uint32_t cdSize, uint32_t cdOffset, uint32_t recordOffset) {
  std::string ends = "PK\x06\x06";
  testzip::Put(ends, {{4, 44}, {4, 0}, {2, 45}, {2, 45}, {4, 0}, {4, 0}});  // size, versions, disks
  testzip::Put(ends, {{4, count}, {4, 0}, {4, count}, {4, 0}});            // the counts
  testzip::Put(ends, {{4, cdSize}, {4, 0}, {4, cdOffset}, {4, 0}});        // the directory
  ends += "PK\x06\x07";
  testzip::Put(ends, {{4, 0}, {4, recordOffset}, {4, 0}, {4, 1}});
  return ends;
}

// A damaged central directory is refused whole: not one byte written, not even the destination.
TEST_F(ReaderTest, DamagedDirectoryIsRefusedBeforeAnythingIsWritten) {
  std::vector<Entry> entries = {{"first.txt", "first"}, {"victim.txt", "hidden evil"}};
  std::string archive = testzip::BuildArchive(entries);
  size_t end = archive.size() - 22, cd = archive.find("PK\x01\x02");
  size_t second = archive.find("PK\x01\x02", cd + 4), secondLocal = archive.find("PK\x03\x04", 4);
  auto patched = [&](size_t offset, int width, uint32_t value) {
    std::string bytes = archive;
    Patch(bytes, offset, width, value);
    return bytes;
  };
  auto counts = [&](uint32_t count) {  // both entry counts of the end record
    std::string bytes = patched(end + 8, 2, count);
    Patch(bytes, end + 10, 2, count);
    return bytes;
  };
  Entry big{"big.bin", std::string(4000, 'z')};
  std::string bomb = testzip::BuildArchive({big, Entry{"small.txt", "s"}});
  size_t bombSecond = bomb.find("PK\x01\x02", bomb.find("PK\x01\x02") + 4);
  Patch(bomb, bombSecond + 42, 4, 0);  // a second entry over the first one's data
  // End records that minizip reads otherwise than the check: it takes the bytes between the
  // directory's end and its end records for a prefix, and would read each record that much
  // further on, in a copy that names "hidden.txt" instead of "victim.txt".
  std::string renamed = archive.substr(cd, end - cd);  // the directory, then the copy
  renamed += renamed.substr(0, renamed.find("victim")) + "hidden" +
             renamed.substr(renamed.find("victim") + 6);
  std::string gap = archive.substr(0, cd) + renamed +
                    Zip64Ends(2, end - cd, cd, cd + renamed.size()) + archive.substr(end);
  // A classic archive with a Zip64 locator and end record further back (in a record's comment,
  // as the last bytes of a stored entry could be): the check goes by the classic end record
  // alone, as other readers do, minizip by the locator.
  std::string commented = archive.substr(0, end);
  std::string comment = renamed.substr(end - cd);  // the copy, read from G = end - cd on
  comment += Zip64Ends(2, end - cd, cd, end + comment.size()) + "pad.";
  Patch(commented, second + 32, 2, comment.size());  // the last record's comment
  commented += comment + archive.substr(end);
  Patch(commented, commented.size() - 10, 4, commented.size() - 22 - cd);
  // The last record's extra field holds a field that claims 65,535 bytes: minizip reads past
  // the archive's end for it and cannot make that entry current.
  std::string overrun = archive.substr(0, end) + std::string("\xfe\xca\xff\xff", 4);
  overrun += archive.substr(end);
  Patch(overrun, second + 30, 2, 4);
  Patch(overrun, end + 4 + 12, 4, end + 4 - cd);
  const struct {
    const char* label;
    std::string bytes;
    int expected;
  } cases[] = {
      {"end record says 0 entries, records follow", counts(0), kCatalogueCountMismatch},
      {"end record says 1 of 2", counts(1), kCatalogueCountMismatch},
      {"0xFFFF entries, 2 records", counts(0xFFFF), kCatalogueCountMismatch},
      {"central record signature", patched(second + 2, 1, 9), kCatalogueBadRecord},
      {"record passes the directory's end", patched(second + 30, 2, 200), kCatalogueBadRecord},
      {"directory size one short", patched(end + 12, 4, end - cd - 1), kCatalogueBadRecord},
      {"two entries on one local header", patched(second + 42, 4, 0), kCatalogueOverlap},
      {"overlapping data", bomb, kCatalogueOverlap},
      {"local header in the directory", patched(second + 42, 4, cd), kCatalogueBadLocalHeader},
      {"no local header there", patched(second + 42, 4, secondLocal + 1), kCatalogueBadLocalHeader},
      {"no end record", archive.substr(0, end), kCatalogueNoArchive},
      {"Zip64 end record behind a gap", gap, kCatalogueBadEndRecord},
      {"Zip64 locator in a comment", commented, kCatalogueBadEndRecord},
      {"extra field claiming bytes past the end", overrun, kCatalogueBadRecord},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(destination_);
    testzip::WriteFile(folder_ / "victim.txt", "keep me");
    testzip::WriteFile(folder_ / "file.exe", testzip::gOutputFile(c.bytes));
    ExtractionReport report;
    std::vector<int> results;
    EXPECT_EQ(c.expected,
              ExtractArchive((folder_ / "file.exe").c_str(), destination_.c_str(), kRunExtract,
                             kWideSearchBytes, CollectResult, &results, &report));
    EXPECT_EQ(c.expected, report.openResult);
    EXPECT_TRUE(results.empty());
    EXPECT_FALSE(fs::exists(destination_)) << "nothing written, not even the destination";
    EXPECT_EQ(c.expected, ExtractArchive((folder_ / "file.exe").c_str(), "", kRunTest,
                                         kWideSearchBytes, nullptr, nullptr, &report));
    EXPECT_EQ("keep me", testzip::ReadFile(folder_ / "victim.txt"));
  }
}

// 65,535 entries and more: the count stuck at 0xFFFF or a Zip64 end record's true count. Every
// entry is processed and counted; a count cut to 16 bits is damage.
TEST_F(ReaderTest, CountsPast65535AreReadWhole) {
  const uint32_t kEntries = 70000;
  std::vector<Entry> entries;
  for (uint32_t i = 0; i < kEntries; ++i)
    entries.push_back(testzip::Stored({"f" + std::to_string(i), ""}));
  std::string classic = testzip::BuildArchive(entries);
  size_t end = classic.size() - 22;
  std::string cut = classic;  // the writer's 16-bit count: 70,000 - 65,536
  Patch(classic, end + 8, 2, 0xFFFF);
  Patch(classic, end + 10, 2, 0xFFFF);
  uint32_t cdSize, cdOffset;
  memcpy(&cdSize, &classic[end + 12], 4);
  memcpy(&cdOffset, &classic[end + 16], 4);
  std::string zip64 = classic.substr(0, end) + Zip64Ends(kEntries, cdSize, cdOffset, (uint32_t)end) +
                      classic.substr(end);
  const struct {
    const char* label;
    std::string bytes;
    int expected;
  } cases[] = {
      {"count stuck at 0xFFFF", classic, 0},
      {"Zip64 end record", zip64, 0},
      {"count cut to 16 bits", cut, kCatalogueCountMismatch},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    testzip::WriteFile(folder_ / "file.exe", testzip::gOutputFile(c.bytes));
    ExtractionReport report;
    EXPECT_EQ(c.expected, ExtractArchive((folder_ / "file.exe").c_str(), "", kRunTest,
                                         kStubSearchBytes, nullptr, nullptr, &report));
    EXPECT_EQ(c.expected == 0 ? kEntries : 0, report.done);
  }
}

#ifndef _WIN32
// Nothing is written through links planted below the destination; each such entry fails alone.
TEST_F(ReaderTest, NothingIsWrittenThroughALinkBelowTheDestination) {
  std::string outside = folder_ / "outside";
  const struct {
    const char* label;
    const char* link;    // below the destination
    const char* target;  // below outside
    Entry entry;
    int expected;
  } cases[] = {
      {"folder link", "sub", "", {"sub\\victim.txt", "evil"}, kReaderLinkInPath},
      {"deeper folder link", "a", "", {"a\\b\\victim.txt", "evil"}, kReaderLinkInPath},
      {"folder entry through a link", "sub", "", FolderEntry("sub\\new\\"), kReaderLinkInPath},
      {"target link", "victim.txt", "victim.txt", {"victim.txt", "evil"}, kReaderLinkInPath},
      {"dangling target link", "victim.txt", "none.txt", {"victim.txt", "evil"}, kReaderLinkInPath},
      {"folder entry over a file", nullptr, nullptr, FolderEntry("file.txt\\"), kReaderNotAFolder},
      {"file below a file", nullptr, nullptr, {"file.txt\\x.txt", "x"}, kReaderNotAFolder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(destination_);
    fs::remove_all(outside);
    fs::create_directories(outside);
    fs::create_directories(destination_);
    testzip::WriteFile(outside + "/victim.txt", "keep me");
    testzip::WriteFile(destination_ + "/file.txt", "a file");
    if (c.link != nullptr)
      fs::create_symlink(outside + "/" + c.target, destination_ + "/" + c.link);
    Open({c.entry, Entry{"after.txt", "a"}});
    EXPECT_EQ(std::vector<int>({c.expected, 0}), ExtractAll(destination_));
    EXPECT_EQ(std::vector<std::string>({"victim.txt"}), Tree(outside)) << "nothing outside";
    EXPECT_EQ("keep me", testzip::ReadFile(outside + "/victim.txt"));
    EXPECT_EQ("a file", testzip::ReadFile(destination_ + "/file.txt"));
  }
  // The destination chosen by the user may itself be a link.
  fs::remove_all(destination_);
  fs::create_symlink(outside, destination_);
  Open({Entry{"sub\\chosen.txt", "fine"}});
  EXPECT_EQ(std::vector<int>({0}), ExtractAll(destination_));
  EXPECT_EQ("fine", testzip::ReadFile(outside + "/sub/chosen.txt"));
}
#endif

// A program that ends mid-entry removes the part file in progress from another thread, for a new
// target as for an existing one; the entry fails, and an old target stays as it was.
TEST_F(ReaderTest, FileInProgressIsRemovedFromAnotherThread) {
  for (bool targetExists : {false, true}) {
    SCOPED_TRACE(targetExists ? "existing target" : "new target");
    fs::remove_all(destination_);
    fs::create_directories(destination_);
    if (targetExists) testzip::WriteFile(destination_ + "/big.bin", "old");
    Entry zeros{"big.bin", std::string(96 << 20, '\0')};
    ASSERT_EQ(1, Open({zeros}));
    zeros.data.clear();
    std::atomic<int> result{1};
    std::thread run([&] { result = ExtractCurrentEntry(destination_.c_str(), 1); });
    bool seen = false;  // bytes in a part file: its writing has begun
    auto look = [&] {
      std::error_code error;
      for (const auto& item : fs::directory_iterator(destination_, error)) {
        std::string name = item.path().filename().string();
        seen = seen || (name.rfind(".~vz", 0) == 0 && item.file_size(error) > 0 && !error);
      }
      return seen || result != 1;
    };
    handshake::WaitUntil(look, 20000);
    if (seen) RemovePartFileInProgress();
    run.join();
    ASSERT_TRUE(seen) << "no part file was seen while the entry was written";
    EXPECT_NE(0, result.load());
    if (targetExists) {
      EXPECT_EQ(std::vector<std::string>({"big.bin"}), Tree(destination_));
      EXPECT_EQ("old", testzip::ReadFile(destination_ + "/big.bin"));
    } else {
      EXPECT_TRUE(Tree(destination_).empty()) << "nothing left behind";
    }
  }
}

#ifdef _WIN32
// A target held open without delete sharing cannot be replaced by name: it is written in place,
// unless it has another name too, a hard link planted to a file outside the destination.
TEST_F(ReaderTest, LockedTargetIsWrittenInPlaceUnlessItIsAHardLink) {
  std::string target = destination_ + "\\locked.txt", outside = folder_ / "outside.txt";
  for (bool linked : {false, true}) {
    SCOPED_TRACE(linked ? "hard link to a file outside" : "plain file");
    fs::remove_all(destination_);
    fs::create_directories(destination_);
    testzip::WriteFile(outside, "old");
    if (linked) {
      fs::create_hard_link(outside, target);
    } else {
      testzip::WriteFile(target, "old");
    }
    FILE* holder = fopen(target.c_str(), "rb");
    ASSERT_NE(nullptr, holder);
    Open({Entry{"locked.txt", "new contents"}});
    EXPECT_EQ(linked ? kReaderFailed : 0, ExtractCurrentEntry(destination_.c_str(), 1));
    fclose(holder);
    EXPECT_EQ(linked ? "old" : "new contents", testzip::ReadFile(target));
    EXPECT_EQ("old", testzip::ReadFile(outside)) << "nothing written outside the destination";
    EXPECT_EQ(std::vector<std::string>({"locked.txt"}), Tree(destination_));
  }
}
#endif

}  // namespace
