// Writing entries below a destination: archives laid out as the folder
// archiver writes them, folders and times, and a table of crafted entries
// (hostile names, bad CRC, short data, long names, damaged dates) that must
// fail alone, loudly, and without touching what was there before.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "runtime/file_info.h"
#include "runtime/system.h"
#include "support/foreign_readers.h"
#include "support/zip_writer.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;
using testzip::Entry;

namespace {

Entry Make(const std::string& name, const std::string& data) {
  Entry e;
  e.name = name;
  e.data = data;
  return e;
}

Entry Folder(const std::string& name) {
  Entry e;
  e.name = name;
  e.date = 0xC421;  // what the archiver stores for folders (2078-01-01)
  e.time = 0;
  return e;
}

std::string Pattern(size_t bytes, unsigned seed) {
  std::string data(bytes, '\0');
  unsigned state = seed;
  for (size_t i = 0; i < bytes; ++i) {
    state = state * 1103515245u + 12345u;
    data[i] = (char)(state >> 16);
  }
  return data;
}

// Everything below folder, as relative generic paths, sorted.
std::vector<std::string> Tree(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error);
       it != fs::recursive_directory_iterator(); ++it) {
    std::string name = fs::relative(it->path(), folder).generic_string();
    if (it->is_directory()) name += "/";
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ReaderExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    destination_ = folder_ / "out";
  }
  void TearDown() override { CloseArchive(); }

  // Writes an output file of entries and opens it.
  void Open(const std::vector<Entry>& entries) {
    CloseArchive();
    archive_ = folder_ / "payload.exe";
    testzip::WriteFile(archive_, testzip::OutputFile(testzip::BuildArchive(entries)));
    ASSERT_NE(0, OpenArchiveForReading(archive_.c_str()));
  }

  // Extracts every entry as the stub does; returns each entry's result.
  std::vector<int> ExtractAll(const std::string& destination, int keepFolders = 1) {
    std::vector<int> results;
    GoToFirstEntry();
    do {
      results.push_back(ExtractCurrentEntry(destination.c_str(), keepFolders));
    } while (GoToNextEntry() == 0);
    return results;
  }

  testzip::TempFolder folder_;
  std::string destination_;
  std::string archive_;
};

TEST_F(ReaderExtractTest, ArchiveAsTheArchiverWritesItComesOutWhole) {
  std::vector<Entry> entries = {Folder(""),
                                Make("a.txt", "plain text, plain text, plain text"),
                                Folder("sub\\"),
                                Make("sub\\b.bin", Pattern(300000, 7)),
                                Folder("sub\\empty\\"),
                                Make("sub\\zero.txt", ""),
                                Make("sub\\deep\\c.txt", "c")};
  Open(entries);
  std::vector<int> results = ExtractAll(destination_);
  EXPECT_EQ(std::vector<int>(entries.size(), 0), results);
  std::vector<std::string> expected = {"a.txt",      "sub/",           "sub/b.bin",
                                       "sub/deep/",  "sub/deep/c.txt", "sub/empty/",
                                       "sub/zero.txt"};
  EXPECT_EQ(expected, Tree(destination_)) << "size-0 folder entries make folders only";
  EXPECT_EQ("", testzip::ReadFile(destination_ + "/sub/zero.txt"));
  EXPECT_EQ(entries[1].data, testzip::ReadFile(destination_ + "/a.txt"));
  EXPECT_EQ(entries[3].data, testzip::ReadFile(destination_ + "/sub/b.bin"));

  std::string bare = folder_ / "bare.zip";
  testzip::WriteFile(bare, testzip::BuildArchive(entries));
#ifndef _WIN32
  EXPECT_EQ("", foreign_readers::CheckAll(bare));
  EXPECT_EQ("", foreign_readers::CheckAll(archive_));
#endif
}

TEST_F(ReaderExtractTest, WriteTimeComesFromTheStoredFieldsWithSecondsAtZero) {
  Entry stamped = Make("stamped.txt", "x");
  stamped.time = testzip::DosTime(14, 37, 58);
  stamped.date = testzip::DosDate(2006, 5, 17);
  Entry late = Make("late.txt", "y");  // after 2037: a 32-bit count would break
  late.time = testzip::DosTime(23, 59, 0);
  late.date = testzip::DosDate(2099, 12, 31);
  Entry epoch = Make("epoch.txt", "z");  // what the archiver stores for unreadable times
  epoch.time = 0;
  epoch.date = 0xC421;
  Entry damaged = Make("damaged.txt", "w");  // February 30th
  damaged.date = testzip::DosDate(2010, 2, 30);
  Entry noMonth = Make("nomonth.txt", "v");
  noMonth.date = testzip::DosDate(2010, 0, 10);
  Open({stamped, late, epoch, damaged, noMonth});
  EXPECT_EQ(std::vector<int>(5, 0), ExtractAll(destination_));

  struct Case {
    const char* file;
    LocalTimeFields expected;
  };
  const Case cases[] = {
      {"stamped.txt", {2006, 5, 17, 14, 37, 0}},
      {"late.txt", {2099, 12, 31, 23, 59, 0}},
      {"epoch.txt", {2078, 1, 1, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    LocalTimeFields got = {};
    ASSERT_EQ(1, GetFileModificationTime((destination_ + kPathSeparator + c.file).c_str(), &got));
    EXPECT_EQ(c.expected.year, got.year) << c.file;
    EXPECT_EQ(c.expected.month, got.month) << c.file;
    EXPECT_EQ(c.expected.day, got.day) << c.file;
    EXPECT_EQ(c.expected.hour, got.hour) << c.file;
    EXPECT_EQ(c.expected.minute, got.minute) << c.file;
    EXPECT_EQ(0, got.second) << c.file;
  }
  // A damaged date leaves the time of writing: this year, not 2010.
  for (const char* file : {"damaged.txt", "nomonth.txt"}) {
    LocalTimeFields got = {};
    ASSERT_EQ(1, GetFileModificationTime((destination_ + kPathSeparator + file).c_str(), &got));
    EXPECT_GE(got.year, 2024) << file;
  }
}

TEST_F(ReaderExtractTest, DestinationWithOrWithoutSeparatorAndMissingParents) {
  Open({Make("sub/dir/file.txt", "f"), Make(" name.txt ", "n"), Make("E:\\data\\x.txt", "x"),
        Make("E:/data/y.txt", "y")});
  std::string nested = folder_ / "new" + kPathSeparator + "deeper";
  EXPECT_EQ(std::vector<int>(4, 0), ExtractAll(nested));
  std::vector<std::string> expected = {"data/", "data/x.txt", "data/y.txt", "name.txt",
                                       "sub/",  "sub/dir/",   "sub/dir/file.txt"};
  EXPECT_EQ(expected, Tree(nested));
  EXPECT_EQ(std::vector<int>(4, 0), ExtractAll(nested + kPathSeparator));
  EXPECT_EQ(expected, Tree(nested)) << "a final separator changes nothing";
}

TEST_F(ReaderExtractTest, WithoutFoldersEveryFileGoesStraightIntoTheDestination) {
  Open({Folder("sub\\"), Make("sub/dir/file.txt", "f"), Make("sub\\zero.txt", "")});
  EXPECT_EQ(std::vector<int>(3, 0), ExtractAll(destination_, 0));
  EXPECT_EQ(std::vector<std::string>({"file.txt", "zero.txt"}), Tree(destination_));
}

// The archiver stores an empty file as a size-0 entry without a final "\";
// it must come back as an empty file, by the rules of every other file.
TEST_F(ReaderExtractTest, EmptyFilesComeBackAsEmptyFiles) {
  Entry zero = Make("deep/er/zero.txt", "");  // no folder entries above it
  zero.time = testzip::DosTime(9, 15, 30);
  zero.date = testzip::DosDate(2011, 3, 4);
  Entry stored = Make(" sub\\stored-empty ", "");
  stored.method = 0;
  stored.flag = 0;
  Entry drive = Make("E:/data/nothing", "");
  fs::create_directories(destination_);
  testzip::WriteFile(destination_ + "/old.txt", "old contents");
  Open({Make("old.txt", ""), zero, stored, drive, Folder("sub\\folder\\"),
        Folder("sub/slashed/")});
  EXPECT_EQ(std::vector<int>(6, 0), ExtractAll(destination_));
  std::vector<std::string> expected = {"data/",          "data/nothing", "deep/",
                                       "deep/er/",       "deep/er/zero.txt", "old.txt",
                                       "sub/",           "sub/folder/",  "sub/slashed/",
                                       "sub/stored-empty"};
  EXPECT_EQ(expected, Tree(destination_));
  for (const char* file : {"old.txt", "deep/er/zero.txt", "sub/stored-empty", "data/nothing"}) {
    EXPECT_TRUE(fs::is_regular_file(destination_ + "/" + file)) << file;
    EXPECT_EQ(0u, fs::file_size(destination_ + "/" + file)) << file << " must be empty";
  }
  LocalTimeFields got = {};
  ASSERT_EQ(1, GetFileModificationTime((destination_ + kPathSeparator + "deep" + kPathSeparator +
                                        "er" + kPathSeparator + "zero.txt").c_str(),
                                       &got));
  EXPECT_EQ(2011, got.year);
  EXPECT_EQ(3, got.month);
  EXPECT_EQ(4, got.day);
  EXPECT_EQ(9, got.hour);
  EXPECT_EQ(15, got.minute);
  EXPECT_EQ(0, got.second);
  EXPECT_EQ(std::vector<int>(6, 0), ExtractAll(destination_)) << "a second run replaces them";
  EXPECT_EQ(expected, Tree(destination_)) << "no part files left behind";
}

TEST_F(ReaderExtractTest, ExistingFilesAreReplacedAndChunkEdgesHold) {
  fs::create_directories(destination_);
  testzip::WriteFile(destination_ + "/a.bin", "old contents");
  std::vector<Entry> entries;
  for (size_t size : {1, 65535, 65536, 65537, 3 * 65536 + 31}) {
    entries.push_back(Make("e" + std::to_string(size) + ".bin", Pattern(size, (unsigned)size)));
  }
  entries.push_back(Make("a.bin", "new contents"));
  Entry stored = Make("stored.bin", Pattern(100000, 3));
  stored.method = 0;
  stored.flag = 0;
  entries.push_back(stored);
  Open(entries);
  EXPECT_EQ(std::vector<int>(entries.size(), 0), ExtractAll(destination_));
  for (const Entry& e : entries) {
    EXPECT_EQ(e.data, testzip::ReadFile(destination_ + "/" + e.name)) << e.name;
  }
  EXPECT_EQ(entries.size(), Tree(destination_).size()) << "no part files left behind";
}

struct BadCase {
  const char* label;
  Entry entry;
  int expected;
};

Entry BadCrc() {
  Entry e = Make("victim.txt", "replacement data");
  e.fixCrc = true;
  e.crc = 0x12345678;
  return e;
}

Entry ShortData() {
  Entry e = Make("victim.txt", "only a little data");
  e.fixSize = true;
  e.size = 2000000000u;  // declares 2 GB
  return e;
}

TEST_F(ReaderExtractTest, CraftedEntriesFailAloneAndNeverReplaceExistingFiles) {
  const std::string longName(300, 'n');
  const BadCase cases[] = {
      {"parent component", Make("..\\victim.txt", "evil"), kReaderUnsafeName},
      {"parent after slash", Make("sub/../../victim.txt", "evil"), kReaderUnsafeName},
      {"absolute backslash", Make("\\victim.txt", "evil"), kReaderUnsafeName},
      {"absolute slash", Make("/victim.txt", "evil"), kReaderUnsafeName},
      {"UNC", Make("\\\\server\\share\\victim.txt", "evil"), kReaderUnsafeName},
      {"drive-relative", Make("C:victim.txt", "evil"), kReaderUnsafeName},
      {"colon later", Make("sub\\a:victim.txt", "evil"), kReaderUnsafeName},
      {"parent with space", Make(".. /victim.txt", "evil"), kReaderUnsafeName},
      {"parent folder entry", Folder("../escaped/"), kReaderUnsafeName},
      {"bad CRC", BadCrc(), kReaderCrcMismatch},
      {"declared 2 GB, little data", ShortData(), kReaderDataShort},
      {"name over 260 bytes", Make(longName, "long"), kReaderNameTooLong},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(folder_.path() + "escaped");
    fs::remove_all(destination_);
    fs::create_directories(destination_);
    testzip::WriteFile(destination_ + "/victim.txt", "keep me");
    testzip::WriteFile(folder_ / "victim.txt", "keep me too");
    Open({Make("before.txt", "b"), c.entry, Make("after.txt", "a")});
    std::vector<int> results = ExtractAll(destination_);
    ASSERT_EQ(3u, results.size());
    EXPECT_EQ(0, results[0]);
    EXPECT_EQ(c.expected, results[1]) << ReaderResultText(results[1]).c_str();
    EXPECT_EQ(0, results[2]) << "a failed entry does not stop the run";
    EXPECT_EQ("keep me", testzip::ReadFile(destination_ + "/victim.txt"));
    EXPECT_EQ("keep me too", testzip::ReadFile(folder_ / "victim.txt"));
    EXPECT_FALSE(fs::exists(folder_.path() + "escaped"));
    EXPECT_EQ(std::vector<std::string>({"after.txt", "before.txt", "victim.txt"}),
              Tree(destination_))
        << "nothing else written, no part file left, no shortened name";
  }
}

// An empty file obeys the same safety rules as any file, and a size-0 entry
// whose CRC says it had data fails without touching an existing file.
TEST_F(ReaderExtractTest, CraftedEmptyFilesFailAlone) {
  Entry lying = Make("victim.txt", "there was data here");
  lying.fixSize = true;
  lying.size = 0;  // declares nothing; the stored CRC is that of the data
  Entry lyingStored = lying;
  lyingStored.method = 0;
  lyingStored.flag = 0;
  Entry badCrc = Make("victim.txt", "");
  badCrc.fixCrc = true;
  badCrc.crc = 0xDEADBEEF;
  const BadCase cases[] = {
      {"parent component", Make("..\\victim.txt", ""), kReaderUnsafeName},
      {"absolute", Make("/victim.txt", ""), kReaderUnsafeName},
      {"colon later", Make("sub\\a:victim.txt", ""), kReaderUnsafeName},
      {"name over 260 bytes", Make(std::string(300, 'n'), ""), kReaderNameTooLong},
      {"size 0, CRC of data (deflated)", lying, kReaderCrcMismatch},
      {"size 0, CRC of data (stored)", lyingStored, kReaderCrcMismatch},
      {"size 0, CRC not 0", badCrc, kReaderCrcMismatch},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(destination_);
    fs::create_directories(destination_);
    testzip::WriteFile(destination_ + "/victim.txt", "keep me");
    testzip::WriteFile(folder_ / "victim.txt", "keep me too");
    Open({Make("before.txt", "b"), c.entry, Make("after.txt", "a")});
    std::vector<int> results = ExtractAll(destination_);
    ASSERT_EQ(3u, results.size());
    EXPECT_EQ(0, results[0]);
    EXPECT_EQ(c.expected, results[1]) << ReaderResultText(results[1]).c_str();
    EXPECT_EQ(0, results[2]);
    if (c.expected == kReaderCrcMismatch) {
      GoToFirstEntry();
      GoToNextEntry();
      EXPECT_EQ(kReaderCrcMismatch, TestCurrentEntry()) << "test agrees with extraction";
    }
    EXPECT_EQ("keep me", testzip::ReadFile(destination_ + "/victim.txt"));
    EXPECT_EQ("keep me too", testzip::ReadFile(folder_ / "victim.txt"));
    EXPECT_EQ(std::vector<std::string>({"after.txt", "before.txt", "victim.txt"}),
              Tree(destination_));
  }
}

TEST_F(ReaderExtractTest, DamagedDataAndUnknownMethodsFail) {
  fs::create_directories(destination_);
  testzip::WriteFile(destination_ + "/victim.txt", "keep me");
  // A deflate block of reserved type 3: inflate must refuse it.
  Entry raw = Make("victim.txt", "x");
  std::vector<Entry> entries = {raw};
  std::string archive = testzip::BuildArchive(entries);
  size_t data = archive.find("victim.txt") + 10;
  archive[data] = (char)0x07;  // BFINAL 1, BTYPE 11
  testzip::WriteFile(folder_ / "damaged.zip", archive);
  ASSERT_NE(0, OpenArchiveForReading((folder_ / "damaged.zip").c_str()));
  int result = ExtractCurrentEntry(destination_.c_str(), 1);
  EXPECT_LT(result, 0);
  EXPECT_NE(0, TestCurrentEntry());
  EXPECT_EQ("keep me", testzip::ReadFile(destination_ + "/victim.txt"));

  Entry odd = Make("odd.bin", "data");
  odd.method = 0;
  archive = testzip::BuildArchive({odd});
  // Method 14 (LZMA) in both headers: not something the reader inflates.
  archive[8] = 14;
  archive[archive.find("PK\x01\x02") + 10] = 14;
  testzip::WriteFile(folder_ / "method.zip", archive);
  ASSERT_NE(0, OpenArchiveForReading((folder_ / "method.zip").c_str()));
  EXPECT_LT(ExtractCurrentEntry(destination_.c_str(), 1), 0);
  EXPECT_FALSE(fs::exists(destination_ + "/odd.bin"));
}

TEST_F(ReaderExtractTest, LongNamesAreNeverCut) {
  std::string name150 = "folder-" + std::string(120, 'x') + "\\file-" + std::string(10, 'y');
  Open({Make(name150, "whole name")});
  EXPECT_EQ(std::vector<int>({0}), ExtractAll(destination_));
  std::string written = destination_ + kPathSeparator + "folder-" + std::string(120, 'x') +
                        kPathSeparator + "file-" + std::string(10, 'y');
  EXPECT_EQ("whole name", testzip::ReadFile(written));
}

TEST_F(ReaderExtractTest, DeclaredHugeSizeAllocatesNothingNearIt) {
  Entry e = ShortData();
  e.name = "huge.bin";
  Open({e});
#ifndef _WIN32
  struct rusage before;
  getrusage(RUSAGE_SELF, &before);
#endif
  EXPECT_EQ(kReaderDataShort, ExtractCurrentEntry(destination_.c_str(), 1));
  EXPECT_EQ(kReaderDataShort, TestCurrentEntry());
#ifndef _WIN32
  struct rusage after;
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "peak grew by more than 64 MB";
#endif
  EXPECT_FALSE(fs::exists(destination_ + "/huge.bin"));
}

TEST_F(ReaderExtractTest, EmptyArchiveCreatesOnlyTheDestination) {
  std::string path = folder_ / "empty.exe";
  std::string archive = testzip::BuildArchive({});
  ASSERT_EQ(22u, archive.size());
  testzip::WriteFile(path, testzip::OutputFile(archive));
  ASSERT_NE(0, OpenArchiveForReading(path.c_str()));
  ArchiveGlobalInfo info = {};
  EXPECT_EQ(0, GetArchiveInfo(&info));
  EXPECT_EQ(0u, info.entryCount);
  EXPECT_LT(GoToFirstEntry(), 0);
  EXPECT_LT(ExtractCurrentEntry(destination_.c_str(), 1), 0);
  EXPECT_TRUE(fs::is_directory(destination_));
  EXPECT_TRUE(Tree(destination_).empty());
}

#ifdef _WIN32
// A target held open without delete sharing cannot be replaced by name; it
// is then written over in place.
TEST_F(ReaderExtractTest, LockedTargetIsWrittenInPlace) {
  fs::create_directories(destination_);
  std::string target = destination_ + "\\locked.txt";
  testzip::WriteFile(target, "old");
  FILE* holder = fopen(target.c_str(), "rb");
  ASSERT_NE(nullptr, holder);
  Open({Make("locked.txt", "new contents")});
  EXPECT_EQ(0, ExtractCurrentEntry(destination_.c_str(), 1));
  fclose(holder);
  EXPECT_EQ("new contents", testzip::ReadFile(target));
  EXPECT_EQ(std::vector<std::string>({"locked.txt"}), Tree(destination_));
}
#endif

}  // namespace
