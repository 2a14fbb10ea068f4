// The folder archiver as the programs call it: its bytes against the test writer's, and what its
// walk lists and leaves out (its own archive, links, bad names, unreadable or special files); a
// folder swapped for a link and a file written over while it is archived.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "archive/folder_archiver.h"
#include "archive/parallel_deflate.h"
#include "runtime/system.h"
#include "support/foreign_readers.h"
#include "support/zip_writer.h"

#ifndef _WIN32
#include <fcntl.h>
#include <linux/capability.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#endif

using test_support::MakeFolder;
using test_support::PatternBytes;
using testzip::Entry;
using testzip::FolderEntry;

namespace {

typedef std::vector<unsigned char> Bytes;

struct Central {
  std::string name;
  uint16_t flags, time, date;
};

// The central records of an archive without comment; none when they do not fill the directory.
std::vector<Central> CentralRecords(const Bytes& b) {
  auto u16 = [&](size_t at) { return (uint16_t)(b[at] | b[at + 1] << 8); };
  auto u32 = [&](size_t at) { return u16(at) | (uint32_t)u16(at + 2) << 16; };
  std::vector<Central> records;
  if (b.size() < 22 || u32(b.size() - 22) != 0x06054b50) return records;
  size_t end = b.size() - 22, at = u32(end + 16);
  while (records.size() < u16(end + 10) && at + 46 <= end && u32(at) == 0x02014b50) {
    size_t name = at + 46, next = name + u16(at + 28) + u16(at + 30) + u16(at + 32);
    if (next > end) break;
    records.push_back({std::string(b.begin() + name, b.begin() + name + u16(at + 28)), u16(at + 8),
                       u16(at + 12), u16(at + 14)});
    at = next;
  }
  if (at != end || records.size() != u16(end + 10)) records.clear();
  return records;
}

#ifndef _WIN32
// Every entry of an archive without comment, name to data, inflated; a name maps to "?" when its
// data cannot be inflated.
std::map<std::string, std::string> InflatedEntries(const Bytes& b) {
  auto u16 = [&](size_t at) { return (uint32_t)(b[at] | b[at + 1] << 8); };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  std::map<std::string, std::string> entries;
  if (b.size() < 22 || u32(b.size() - 22) != 0x06054b50) return entries;
  size_t end = b.size() - 22, at = u32(end + 16);
  while (at + 46 <= end && u32(at) == 0x02014b50) {
    std::string name(b.begin() + at + 46, b.begin() + at + 46 + u16(at + 28));
    size_t local = u32(at + 42), packed = u32(at + 20), unpacked = u32(at + 24);
    at += 46 + u16(at + 28) + u16(at + 30) + u16(at + 32);
    size_t data = local + 30 + u16(local + 26) + u16(local + 28);
    std::string out(unpacked, '\0');
    z_stream stream = {};
    inflateInit2(&stream, -MAX_WBITS);
    stream.next_in = const_cast<unsigned char*>(b.data() + data);
    stream.avail_in = (uInt)std::min(packed, b.size() - data);
    stream.next_out = (unsigned char*)&out[0];
    stream.avail_out = (uInt)unpacked;
    int result = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    entries[name] = result == Z_STREAM_END && stream.total_out == unpacked ? out : "?";
  }
  return entries;
}
#endif

Bytes Of(const std::string& text) { return Bytes(text.begin(), text.end()); }
Entry TextEntry(const std::string& name, const std::string& data) {
  Entry e{name, data};
  e.text = true;
  return e;
}

typedef std::vector<std::pair<std::string, float>> Calls;
Calls* recorded = nullptr;
std::function<void()> atFirstCall;  // run once, when the first callback comes

int32_t RecordCall(const Text& name, float percent) {
  if (atFirstCall) std::exchange(atFirstCall, nullptr)();
  recorded->push_back({name.c_str(), percent});
  return 0;
}

// The bytes callback's last report; bytesBackwards counts reports that went back.
int64_t bytesDone = 0, bytesTotal = 0, bytesBackwards = 0;
void RecordBytes(int64_t done, int64_t total) {
  if (done < bytesDone) ++bytesBackwards;
  bytesDone = done;
  bytesTotal = total;
}

struct Written {
  std::string path;
  int32_t added = 0;
  Calls calls;
  Bytes bytes;
  std::vector<Central> central;
  std::vector<std::string> names;  // stored names in central directory order
  std::vector<std::pair<std::string, int>> problems;
};

class ArchiverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    InitFolderArchiver();
    source_ = work_.Join("data") + kPathSeparator;
    ASSERT_TRUE(MakeFolder(source_));
  }
  void TearDown() override { FreeFolderArchiver(); }

  void Write(const std::string& name, const Bytes& data) {
    ASSERT_TRUE(test_support::WriteWholeFile(source_ + name, data)) << name;
  }
  // Makes items below source_: "name/" a folder, "name" a file holding its name.
  void Make(std::initializer_list<std::string> items) {
    for (const std::string& item : items) {
      if (item.back() == '/') {
        ASSERT_TRUE(MakeFolder(source_ + item)) << item;
      } else {
        Write(item, Of(item));
      }
    }
  }

  // Archives source_ + pattern into path (out.zip when empty) as the programs do, and reads its
  // central directory. workers 0: AddFolderToArchive; else the parallel one with that many.
  Written Archive(std::string path = "", int32_t linkMode = kLinksWithinFolder, int32_t workers = 0,
                  const std::string& pattern = "*.*") {
    Written run;
    if (path.empty()) path = work_.Join("out.zip");
    run.path = path;
    recorded = &run.calls;
    SetArchiverProgressCallback(RecordCall);
    SetArchiverBytesCallback(RecordBytes);
    bytesDone = bytesTotal = bytesBackwards = 0;
    Text folderAndPattern = (source_ + pattern).c_str();
    run.added = workers == 0 ? AddFolderToArchive(path.c_str(), folderAndPattern, kNameRelative, 1,
                                                  0, linkMode)
                             : AddFolderToArchiveInParallel(path.c_str(), folderAndPattern,
                                                            kNameRelative, 1, linkMode, workers);
    SetArchiverProgressCallback(nullptr);
    SetArchiverBytesCallback(nullptr);
    for (int32_t i = 0; i < ArchiverProblemCount(); ++i)
      run.problems.push_back({ArchiverProblemPath(i).c_str(), ArchiverProblemKind(i)});
    run.bytes = test_support::ReadWholeFile(path);
    run.central = CentralRecords(run.bytes);
    EXPECT_TRUE(run.bytes.size() == 22 || !run.central.empty()) << "unreadable directory";
    for (const auto& c : run.central) run.names.push_back(c.name);
    return run;
  }

  // The archive must be, byte for byte, what testzip writes for entries (file times taken from
  // the archive, checked below), and the foreign readers must accept it.
  void ExpectBytes(const Written& run, std::vector<Entry> entries) {
    EXPECT_EQ("", foreign_readers::CheckAll(run.path));
    ASSERT_EQ(entries.size(), run.central.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].date == 0xC421) continue;  // a folder entry
      entries[i].time = run.central[i].time;
      entries[i].date = run.central[i].date;
    }
    std::string expected = testzip::BuildArchive(entries);
    std::string got(run.bytes.begin(), run.bytes.end());
    size_t same = std::mismatch(expected.begin(), expected.end(), got.begin(), got.end()).first -
                  expected.begin();
    EXPECT_EQ(expected.size(), run.bytes.size());
    EXPECT_EQ(expected.size(), same) << "the first difference is at byte " << same;
  }

  // The check walk over source_: the problems it finds, by path below source_ and kind, sorted.
  std::vector<std::pair<std::string, int>> Check(int32_t linkMode, int32_t* files = nullptr,
                                                 int64_t* bytes = nullptr) {
    int64_t total = 0;
    int32_t count = CheckFolderForArchive((source_ + "*.*").c_str(), kNameRelative, 1, linkMode,
                                          &total);
    if (files != nullptr) *files = count;
    if (bytes != nullptr) *bytes = total;
    std::vector<std::pair<std::string, int>> problems;
    for (int32_t i = 0; i < ArchiverProblemCount(); ++i)
      problems.push_back({ArchiverProblemPath(i).c_str() + source_.size(), ArchiverProblemKind(i)});
    std::sort(problems.begin(), problems.end());
    return problems;
  }

  test_support::TempFolder work_;
  std::string source_;
};

TEST_F(ArchiverTest, EmptyRuns) {
  Written missing =
      Archive("", kLinksWithinFolder, 0, "nowhere" + test_support::Separator() + "*.*");
  EXPECT_EQ(0, missing.added);
  EXPECT_TRUE(missing.calls.empty()) << "a folder that cannot be listed gives no callback";
  Bytes endOnly = {0x50, 0x4b, 0x05, 0x06};
  endOnly.resize(22, 0);
  EXPECT_TRUE(missing.bytes == endOnly) << "22 bytes, got " << missing.bytes.size();
  Written empty = Archive();
  EXPECT_EQ(0, empty.added);
  EXPECT_EQ(std::vector<std::string>({""}), empty.names) << "the folder's own entry alone";
  EXPECT_EQ(Calls({{source_, 0.0f}, {"", 100.0f}}), empty.calls) << "no division by 0 files";
}

TEST_F(ArchiverTest, ExampleEntriesCallbacksAndBytes) {
  Make({"a.txt", "sub/", "sub/b.txt"});
  Written run = Archive();
  EXPECT_EQ(2, run.added);
  EXPECT_TRUE(run.problems.empty());
  std::string sub = source_ + "sub" + kPathSeparator;
  Calls expected = {
      {source_, 0}, {source_ + "a.txt", 0}, {sub, 25}, {sub + "b.txt", 25}, {"", 100}};
  EXPECT_EQ(expected, run.calls);
  // Folder entries: the empty stream 03 00, the 1970 fields 0xC421 (also on
  // 64-bit hosts, where minizip's own rule overflows), no attributes.
  ExpectBytes(run, {FolderEntry(""), TextEntry("a.txt", "a.txt"), FolderEntry("sub\\"),
                    TextEntry("sub\\b.txt", "sub/b.txt")});
}

TEST_F(ArchiverTest, ChunkEdgesTextAttributesAndEmptyItems) {
  std::string letters(600, 'a');
  for (size_t i = 0; i < letters.size(); ++i) letters[i] = (char)('a' + (i * 7) % 26);
  std::string binary = letters;
  binary[3] = 0;  // a zero byte among the first literals: zlib says binary
  std::vector<Entry> entries = {FolderEntry(""),
                                {"bin.dat", binary},
                                {"empty", ""},
                                FolderEntry("hollow\\"),
                                TextEntry("letters.txt", letters)};
  // Around the 102,400-byte chunk, in listing order; one beyond what a worker keeps in memory.
  for (size_t size : {102399, 102400, 102401, kStreamMemoryBytes + 102401, 307201}) {
    Bytes data = PatternBytes(size);
    entries.push_back({"z" + std::to_string(size), std::string(data.begin(), data.end())});
  }
  for (const Entry& e : std::vector<Entry>(entries.begin() + 1, entries.end())) {
    if (e.date == 0xC421) {
      ASSERT_TRUE(MakeFolder(source_ + e.name.substr(0, e.name.size() - 1)));
    } else {
      Write(e.name, Of(e.data));
    }
  }
  // The check walk counts the files and their bytes, which every run then reports as its total.
  int64_t dataBytes = 0;
  for (const Entry& e : entries) dataBytes += e.data.size();
  int32_t files = 0;
  int64_t checked = 0;
  EXPECT_TRUE(Check(kLinksWithinFolder, &files, &checked).empty());
  EXPECT_EQ(8, files);
  EXPECT_EQ(dataBytes, checked);
  Written serial = Archive();
  EXPECT_EQ(8, serial.added) << "an empty file counts as added";
  EXPECT_EQ(dataBytes, bytesDone);
  EXPECT_EQ(dataBytes, bytesTotal);
  EXPECT_EQ(0, bytesBackwards);
  ExpectBytes(serial, entries);
  // Deflated by workers, the same bytes and reports; their spill files are gone.
  for (int32_t workers : {1, 2, 3}) {
    std::string out = work_.Join("workers" + std::to_string(workers));
    Check(kLinksWithinFolder);
    Written run = Archive(out, kLinksWithinFolder, workers);
    EXPECT_EQ(dataBytes, bytesDone) << workers << " workers";
    EXPECT_EQ(dataBytes, bytesTotal) << workers << " workers";
    EXPECT_EQ(0, bytesBackwards) << workers << " workers";
    EXPECT_EQ(8, run.added) << workers << " workers";
    EXPECT_TRUE(serial.bytes == run.bytes) << workers << " workers";
    EXPECT_EQ(serial.calls, run.calls) << workers << " workers";
    for (size_t i = 0; i < entries.size(); ++i)
      EXPECT_FALSE(test_support::Exists(out + "-" + std::to_string(i))) << workers << " workers";
  }
}

// The archive being written is never listed, even inside; a deeper "data" is like any name.
TEST_F(ArchiverTest, TheArchiveBeingWrittenIsNeverListed) {
  Make({"inner/data/", "one.txt", "README", ".hidden", "inner/two.doc", "inner/data/deep.txt"});
  const std::vector<std::string> names = {
      "",        ".hidden", "inner\\", "inner\\data\\", "inner\\data\\deep.txt", "inner\\two.doc",
      "one.txt", "README"};
  Written inside = Archive(source_ + "inner" + kPathSeparator + "Vezovud42");
  EXPECT_EQ(5, inside.added);
  EXPECT_EQ(names, inside.names);
  EXPECT_TRUE(inside.problems.empty());
}

// Excluded items are left out of the walk, which enters no excluded folder: what lies inside
// one is neither stored nor refused. Check walk, serial and parallel runs agree.
TEST_F(ArchiverTest, ExclusionsLeaveItemsOutAndAreNotEntered) {
  Make({"a.txt", "b.o", "Makefile", "build/", "build/x.txt", "sub/", "sub/a.txt", "sub/c.O",
        "sub/deep/", "sub/deep/d.txt", "sub/build", "twin.txt", "cafe.txt"});
#ifndef _WIN32
  Make({"TWIN.TXT"});  // one file with twin.txt on Windows
#endif
  const struct {
    std::vector<std::string> patterns;
    std::vector<std::string> names;  // stored, after the folder's own entry
  } rows[] = {
      {{"*.o", "build", "twin.txt"},  // any depth, letters as Windows compares them
       {"a.txt", "cafe.txt", "Makefile", "sub\\", "sub\\a.txt", "sub\\deep\\",
        "sub\\deep\\d.txt"}},
      {{"sub/*.txt|/a.txt", "b.?", "*file", "twin*", "build/"},  // "*" of a path takes "/"
       {"cafe.txt", "sub\\", "sub\\build", "sub\\c.O", "sub\\deep\\"}},
      {{"./sub", "build/*", "twin.txt", "caf?.txt"},
       {"a.txt", "b.o", "build\\", "Makefile"}},
  };
  for (const auto& row : rows) {
    std::vector<Text> patterns;
    for (const std::string& p : row.patterns) patterns.push_back(p.c_str());
    ASSERT_EQ(1, SetArchiverExclusions(patterns.data(), static_cast<int32_t>(patterns.size())));
    std::vector<std::string> expected = {""};
    expected.insert(expected.end(), row.names.begin(), row.names.end());
    int32_t files = 0;
    EXPECT_TRUE(Check(kLinksWithinFolder, &files).empty()) << row.patterns[0];
    for (int32_t workers : {0, 2}) {
      Written run = Archive(work_.Join("out" + std::to_string(workers)), kLinksWithinFolder,
                            workers);
      EXPECT_EQ(expected, run.names) << row.patterns[0] << ", workers " << workers;
      EXPECT_EQ(files, run.added) << row.patterns[0] << ", workers " << workers;
      EXPECT_TRUE(run.problems.empty()) << row.patterns[0];
    }
  }
  SetArchiverExclusions(nullptr, 0);
#ifndef _WIN32
  std::vector<std::pair<std::string, int>> twins = {{"twin.txt", kProblemCaseTwin}};
  EXPECT_EQ(twins, Check(kLinksWithinFolder))
      << "twins are refused again once nothing is left out";
#endif
}

#ifndef _WIN32
TEST_F(ArchiverTest, TimeFieldsAreClampedToWhatTheFormatHolds) {
  using testzip::DosDate;
  using testzip::DosTime;
  const struct {
    const char* name;  // the listing order
    int year, month, day, hour, minute, second;
    uint16_t date, time;
  } cases[] = {
      {"odd59", 2010, 12, 31, 23, 59, 59, DosDate(2010, 12, 31), DosTime(23, 59, 58)},
      {"y1975", 1975, 6, 1, 12, 0, 0, DosDate(1980, 1, 1), 0},  // clamped up
      {"y2006", 2006, 5, 4, 3, 2, 1, DosDate(2006, 5, 4), DosTime(3, 2, 0)},
      {"y2050", 2050, 7, 8, 9, 10, 12, DosDate(2050, 7, 8), DosTime(9, 10, 12)},
      {"y2120", 2120, 3, 3, 3, 3, 3, DosDate(2107, 12, 31), DosTime(23, 59, 58)},  // down
  };
  for (const auto& c : cases) {
    Make({c.name});
    struct tm t = {};
    t.tm_year = c.year - 1900, t.tm_mon = c.month - 1, t.tm_mday = c.day;
    t.tm_hour = c.hour, t.tm_min = c.minute, t.tm_sec = c.second, t.tm_isdst = -1;
    struct timeval times[2] = {{mktime(&t), 0}, {mktime(&t), 0}};
    ASSERT_EQ(0, utimes((source_ + c.name).c_str(), times)) << c.name;
  }
  Written run = Archive();
  ASSERT_EQ(6u, run.central.size());
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(cases[i].name, run.names[i + 1]);
    EXPECT_EQ(cases[i].date, run.central[i + 1].date) << cases[i].name;
    EXPECT_EQ(cases[i].time, run.central[i + 1].time) << cases[i].name;
  }
  // With a newest time (y2006's), the tree touched at two later times gives the same bytes,
  // serial and parallel; y1975 keeps its own.
  struct tm t = {};
  t.tm_year = 106, t.tm_mon = 4, t.tm_mday = 4, t.tm_hour = 3, t.tm_min = 2, t.tm_sec = 1;
  t.tm_isdst = -1;
  time_t newest = mktime(&t);
  SetArchiverNewestTime(newest);
  std::vector<Bytes> outputs;
  for (time_t later : {newest + 3600, newest + 400 * 86400}) {
    for (const auto& c : cases) {
      struct timeval times[2] = {{later, 0}, {later, 0}};
      if (std::string(c.name) != "y1975") utimes((source_ + c.name).c_str(), times);
    }
    for (int32_t workers : {0, 2}) {
      Written clamped = Archive(work_.Join("clamped"), kLinksWithinFolder, workers);
      ASSERT_EQ(6u, clamped.central.size());
      for (size_t i = 1; i < 6; ++i) {
        bool early = clamped.names[i] == "y1975";
        EXPECT_EQ(early ? DosDate(1980, 1, 1) : DosDate(2006, 5, 4), clamped.central[i].date);
        EXPECT_EQ(early ? 0 : DosTime(3, 2, 0), clamped.central[i].time) << clamped.names[i];
      }
      outputs.push_back(clamped.bytes);
    }
  }
  for (const Bytes& output : outputs) EXPECT_TRUE(output == outputs[0]);
}

// Without these two capabilities (of this thread only) root meets file modes as any user does.
bool BypassFileModes(bool bypass) {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2];
  if (syscall(SYS_capget, &header, data) != 0) return false;
  uint32_t bits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
  data[0].effective =
      bypass ? data[0].effective | (bits & data[0].permitted) : data[0].effective & ~bits;
  return syscall(SYS_capset, &header, data) == 0;
}

// Everything the walk cannot store whole is reported by path and kind, the good items go in.
// Links inside the folder are followed, loops not; links leading out under kLinksFollowAll only.
TEST_F(ArchiverTest, WhatCannotBeStoredWholeIsReported) {
  std::string outside = work_.Join("elsewhere");
  ASSERT_TRUE(MakeFolder(outside));
  ASSERT_TRUE(test_support::WriteWholeFile(outside + "/x.txt", {'x'}));
  Make({"in/", "in/one.txt", "Twin.txt", "Case/", "locked/", "caf\xC3\xA9.txt", "\303\211clair.txt",
        "\303\251clair.txt", "bad\xFF.txt", "dir:x/", "dir:x/fine.txt", "back\\dir/",
        "back\\dir/lost.txt", "dotdir./", "dotdir./in.txt"});
  ASSERT_EQ(0, mkfifo((source_ + "fifo").c_str(), 0644)) << "a named pipe must not hang the walk";
  const std::string targets[] = {
      "..", source_, "in/one.txt", outside, outside + "/x.txt", "/proc/self/stat", "nowhere"};
  const char* links[] = {"in/up", "in/root", "inlink", "link", "filelink", "proc", "dangling"};
  for (size_t i = 0; i < std::size(links); ++i)
    ASSERT_EQ(0, symlink(targets[i].c_str(), (source_ + links[i]).c_str())) << links[i];
  int fd = open((source_ + "huge.bin").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(0, ftruncate(fd, 0x100000000LL)) << "a sparse file of 4 GiB";
  close(fd);
  const struct {
    std::string path;    // below source_; folder entries end in "/"
    int within, follow;  // the problem under kLinksWithinFolder, kLinksFollowAll; 0: stored
  } rows[] = {
      // Names Windows cannot hold (every character: EntryNameTest).
      {"a:b", kProblemBadName, kProblemBadName},
      {"back\\slash", kProblemBadName, kProblemBadName},
      {"tab\tname", kProblemBadName, kProblemBadName},
      {"dir:x/", kProblemBadName, kProblemBadName},
      {"dir:x/fine.txt", kProblemBadName, kProblemBadName},
      {"back\\dir", kProblemBadName, kProblemBadName},  // cannot be entered under its name
      // Names Windows would merge with another.
      {"twin.TXT", kProblemCaseTwin, kProblemCaseTwin},  // after Twin.txt
      {"case", kProblemCaseTwin, kProblemCaseTwin},      // a file after the folder Case
      {"dot.", kProblemTrailingDot, kProblemTrailingDot},
      {"space ", kProblemTrailingDot, kProblemTrailingDot},
      {"dotdir./", kProblemTrailingDot, kProblemTrailingDot},
      {"dotdir./in.txt", kProblemTrailingDot, kProblemTrailingDot},
      {"\303\251clair.txt", kProblemCaseTwin, kProblemCaseTwin},  // after its capital twin
      {"bad\xFF.txt", kProblemNotUtf8, kProblemNotUtf8},
      // What cannot be read, or not whole.
      {"locked", kProblemFolderUnreadable, kProblemFolderUnreadable},
      {"locked.txt", kProblemUnreadable, kProblemUnreadable},
      {"locked-empty", kProblemUnreadable, kProblemUnreadable},  // empty, yet unknown
      {"fifo", kProblemSpecialFile, kProblemSpecialFile},
      {"huge.bin", kProblemTooLarge, kProblemTooLarge},
      {"proc", kProblemLinkOutside, kProblemChanged},  // size 0, yet it holds data
      // Links.
      {"dangling", kProblemDanglingLink, kProblemDanglingLink},
      {"link", kProblemLinkOutside, 0},
      {"filelink", kProblemLinkOutside, 0},
  };
  for (const auto& row : rows)
    if (row.path.back() != '/' && !test_support::Exists(source_ + row.path))
      Write(row.path, row.path == "locked-empty" ? Bytes() : Of(row.path));
  for (const char* locked : {"locked", "locked.txt", "locked-empty"})
    ASSERT_EQ(0, chmod((source_ + locked).c_str(), 0)) << locked;
  // The check walk finds each of them, without reading: a folder's own name once, at the
  // folder; only proc's data, which reading finds, is left to the run. The files are opened on
  // one thread or on three, with the same verdicts and the same bytes in all.
  int64_t checkedBytes[2][2] = {};
  for (int32_t run = 0; run < 4; ++run) {
    int32_t mode = run % 2 == 0 ? kLinksWithinFolder : kLinksFollowAll;
    SetArchiverCheckThreads(run < 2 ? 1 : 3);
    std::vector<std::pair<std::string, int>> expected;
    for (const auto& row : rows) {
      int kind = mode == kLinksWithinFolder ? row.within : row.follow;
      std::string path = row.path.back() == '/' ? row.path.substr(0, row.path.size() - 1) : row.path;
      bool inBadFolder = path.find('/') != std::string::npos;
      if (kind != 0 && kind != kProblemChanged && !inBadFolder) expected.push_back({row.path, kind});
    }
    std::sort(expected.begin(), expected.end());
    ASSERT_TRUE(BypassFileModes(false));
    std::vector<std::pair<std::string, int>> got =
        Check(mode, nullptr, &checkedBytes[run / 2][run % 2]);
    ASSERT_TRUE(BypassFileModes(true));
    SetArchiverCheckThreads(1);
    EXPECT_EQ(expected, got) << "check walk, link mode " << mode << ", run " << run;
  }
  EXPECT_EQ(checkedBytes[0][0], checkedBytes[1][0]);
  EXPECT_EQ(checkedBytes[0][1], checkedBytes[1][1]);
  // Each link mode, with files deflated in turn and by two workers.
  for (int32_t run = 0; run < 4; ++run) {
    int32_t mode = run % 2 == 0 ? kLinksWithinFolder : kLinksFollowAll;
    int32_t workers = run < 2 ? 0 : 2;
    ASSERT_TRUE(BypassFileModes(false));
    Written written = Archive(work_.Join("out" + std::to_string(run)), mode, workers);
    ASSERT_TRUE(BypassFileModes(true));
    std::vector<std::pair<std::string, int>> expected, got;
    for (const auto& row : rows) {
      int kind = mode == kLinksWithinFolder ? row.within : row.follow;
      if (kind != 0) expected.push_back({row.path, kind});
    }
    for (const auto& p : written.problems)
      got.push_back({p.first.substr(source_.size()), p.second});
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(expected, got) << "link mode " << mode << ", workers " << workers;
    // Upper-cased UTF-8 orders the names; those beyond ASCII carry bit 11. proc's entry was
    // open when its size gave way; a worker finds that out before the entry is opened.
    std::vector<std::string> names = {"",         "caf\303\251.txt",  "Case\\",
                                      "in\\",     "in\\one.txt",      "inlink",
                                      "Twin.txt", "\303\211clair.txt"};
    if (mode == kLinksFollowAll) {
      names.insert(names.begin() + 3, "filelink");
      names.insert(names.begin() + 7, {"link\\", "link\\x.txt"});
      if (workers == 0) names.insert(names.begin() + 9, "proc");
    } else if (workers == 0) {
      EXPECT_EQ("", foreign_readers::CheckAll(written.path)) << "UTF-8 names";
    }
    EXPECT_EQ(names, written.names) << "link mode " << mode << ", workers " << workers;
    for (const auto& header : written.central) {
      bool ascii = std::all_of(header.name.begin(), header.name.end(),
                               [](char c) { return (unsigned char)c < 0x80; });
      EXPECT_EQ(ascii ? 0x0002 : 0x0802, header.flags) << header.name;
    }
  }
  for (const char* locked : {"locked", "locked.txt", "locked-empty"})
    chmod((source_ + locked).c_str(), 0755);
}
#endif

#ifndef _WIN32
// Someone writing the folder swaps a listed file for a link leading out after the walk: the file
// read must be the one listed. Workers stay kRunAheadItems items ahead of the writer, so the swap
// at the first callback, for item 0, comes before they can take the last file.
TEST_F(ArchiverTest, AFileSwappedAfterTheWalkIsRefused) {
  std::string secret = work_.Join("secret");
  ASSERT_TRUE(test_support::WriteWholeFile(secret, Of("secret")));
  std::string last = "f" + std::to_string(kRunAheadItems);
  for (int i = 0; i <= kRunAheadItems; ++i) Write("f" + std::to_string(10000 + i).substr(1), {1});
  for (int32_t workers : {0, 2}) {
    atFirstCall = [&] {
      ASSERT_EQ(0, symlink(secret.c_str(), (source_ + "swap").c_str()));
      ASSERT_EQ(0, rename((source_ + "swap").c_str(), (source_ + last).c_str()));
    };
    Written run = Archive(work_.Join("out" + std::to_string(workers)), kLinksWithinFolder, workers);
    EXPECT_EQ(kRunAheadItems, run.added) << workers << " workers";
    EXPECT_EQ(decltype(run.problems)({{source_ + last, kProblemChanged}}), run.problems)
        << workers << " workers";
    ASSERT_EQ(0, unlink((source_ + last).c_str()));
    Write(last, {1});
  }
}

// A check that keeps its walk hands it to the next run of the same folder, once: a file swapped
// since is still refused when it is opened, one added since is not taken, and the run after that
// walks anew. A check that finds a problem, or one of other arguments, keeps nothing.
TEST_F(ArchiverTest, ACheckedWalkIsStoredOnceAsChecked) {
  std::string secret = work_.Join("secret");
  ASSERT_TRUE(test_support::WriteWholeFile(secret, Of("secret")));
  Write("a", Of("a"));
  Write("b", Of("b"));
  KeepCheckedWalk(1);
  ASSERT_TRUE(Check(kLinksWithinFolder).empty());
  Write("c", Of("c"));
  ASSERT_EQ(0, symlink(secret.c_str(), (source_ + "swap").c_str()));
  ASSERT_EQ(0, rename((source_ + "swap").c_str(), (source_ + "b").c_str()));
  Written kept = Archive(work_.Join("kept.zip"), kLinksWithinFolder, 2);
  EXPECT_EQ(std::vector<std::string>({"", "a"}), kept.names);
  EXPECT_EQ(decltype(kept.problems)({{source_ + "b", kProblemChanged}}), kept.problems);
  Written walked = Archive(work_.Join("walked.zip"), kLinksWithinFolder, 2);
  EXPECT_EQ(std::vector<std::string>({"", "a", "c"}), walked.names);
  EXPECT_EQ(decltype(walked.problems)({{source_ + "b", kProblemLinkOutside}}), walked.problems);
  // The link is a problem of the check itself; then a clean check under other link rules.
  ASSERT_FALSE(Check(kLinksWithinFolder).empty());
  EXPECT_EQ(3, Archive(work_.Join("found.zip"), kLinksFollowAll, 2).added);
  ASSERT_TRUE(Check(kLinksFollowAll).empty());
  EXPECT_EQ(2, Archive(work_.Join("other.zip"), kLinksWithinFolder, 2).added);
  KeepCheckedWalk(0);
}
#endif

#ifndef _WIN32
// Races against a second process are run for a bounded time and a bounded number of runs.
const auto kRaceTime = std::chrono::seconds(3);
const int kRaceRuns = 150;

// Someone who can write the folder swaps a subfolder for a link to a folder outside and back, many
// thousands of times a second, while the folder is archived in turn and by two workers. No run,
// whatever it reports, stores a byte of the outside files; a run that reports nothing stored the
// inside files whole.
TEST_F(ArchiverTest, AFolderSwappedForALinkDuringTheWalkLetsNoOutsideByteIn) {
  const std::string marker = "OUTSIDE-ONLY-MARKER-7f3a";
  std::string outside = work_.Join("outside"), spare = work_.Join("spare");
  ASSERT_TRUE(MakeFolder(outside));
  Make({"sub/", "top.txt"});
  std::map<std::string, std::string> inside = {{"top.txt", "top.txt"}};
  for (int i = 0; i < 12; ++i) {
    std::string name = "f" + std::to_string(i) + ".txt";
    std::string data = "inside " + name + std::string(3000 + i, 'i');
    Write("sub/" + name, Of(data));
    inside["sub\\" + name] = data;
    ASSERT_TRUE(test_support::WriteWholeFile(outside + "/" + name, Of(marker + name)));
  }
  ASSERT_TRUE(test_support::WriteWholeFile(outside + "/only-outside.txt", Of(marker)));
  ASSERT_EQ(0, symlink(outside.c_str(), spare.c_str()));
  std::string sub = source_ + "sub";
  std::atomic<bool> stop{false};
  std::atomic<long> swaps{0};
  // Tens of thousands of swaps a second, pausing a moment after every 16 so as not to starve the
  // tests that run beside this one.
  std::thread swapper([&] {
    while (!stop && swaps < 10000000) {
      if (renameat2(AT_FDCWD, spare.c_str(), AT_FDCWD, sub.c_str(), RENAME_EXCHANGE) == 0) swaps++;
      if (swaps % 16 == 0) std::this_thread::sleep_for(std::chrono::microseconds(10));
    }
  });
  int runs = 0, whole = 0;
  auto start = std::chrono::steady_clock::now();
  while (runs < kRaceRuns && std::chrono::steady_clock::now() - start < kRaceTime) {
    int32_t workers = runs % 2 == 0 ? 0 : 2;
    Written run = Archive(work_.Join("race.zip"), kLinksWithinFolder, workers);
    runs++;
    std::map<std::string, std::string> stored = InflatedEntries(run.bytes);
    for (const auto& entry : stored) {
      ASSERT_EQ(std::string::npos, entry.second.find(marker))
          << entry.first << " came from outside, run " << runs << ", workers " << workers;
    }
    if (run.problems.empty()) {
      whole++;
      for (const auto& file : inside) EXPECT_EQ(file.second, stored[file.first]) << file.first;
    }
    for (const auto& problem : run.problems) {
      EXPECT_TRUE(problem.second == kProblemChanged || problem.second == kProblemLinkOutside ||
                  problem.second == kProblemFolderUnreadable)
          << problem.first << " " << problem.second;
    }
  }
  stop = true;
  swapper.join();
  struct stat facts;
  if (lstat(sub.c_str(), &facts) == 0 && S_ISLNK(facts.st_mode)) {
    ASSERT_EQ(0, renameat2(AT_FDCWD, spare.c_str(), AT_FDCWD, sub.c_str(), RENAME_EXCHANGE));
  }
  EXPECT_LT(0, swaps.load());
  printf("swapped %ld times during %d runs, %d of them stored everything\n", swaps.load(), runs,
         whole);
}

// A writer rewrites a file in place, the same size every time, now and then emptying it first,
// with pauses of its own, while the folder is archived in turn and by two workers. A run that
// stores the file stores one whole version of it, never a mix, and never an empty one unless the
// file stood empty for longer than the 100 ms a file must be left alone to be taken (the writer,
// held up between emptying and filling, measures that).
TEST_F(ArchiverTest, AFileRewrittenWhileItIsReadIsOneWholeVersionOrRefused) {
  const size_t kBytes = 3 * 102400 + 999;  // several chunks, and a spill for the workers
  Bytes versions[2] = {test_support::PatternBytes(kBytes, 1),
                       test_support::PatternBytes(kBytes, 2)};
  Write("victim.bin", versions[0]);
  Make({"calm.txt"});
  std::string victim = source_ + "victim.bin";
  std::atomic<bool> stop{false};
  std::atomic<long> rewrites{0};
  std::atomic<long> longestEmptyMs{0};
  std::thread writer([&] {
    int file = open(victim.c_str(), O_WRONLY);
    for (long n = 0; !stop && n < 1000000; ++n) {
      auto emptied = std::chrono::steady_clock::now();
      if (n % 7 == 3) ftruncate(file, 0);  // emptied, then filled again
      const Bytes& version = versions[n % 2];
      if (pwrite(file, version.data(), version.size(), 0) == (ssize_t)version.size()) rewrites++;
      if (n % 7 == 3) {
        long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - emptied)
                      .count();
        if (ms > longestEmptyMs) longestEmptyMs = ms;
      }
      // Now and then the file is left alone long enough to be stored.
      std::this_thread::sleep_for(std::chrono::milliseconds(n % 5 == 0 ? 150 : n % 3));
    }
    close(file);
  });
  int runs = 0, stored = 0, refused = 0;
  auto start = std::chrono::steady_clock::now();
  while (runs < kRaceRuns && std::chrono::steady_clock::now() - start < kRaceTime) {
    int32_t workers = runs % 2 == 0 ? 0 : 2;
    Written run = Archive(work_.Join("rewrite.zip"), kLinksWithinFolder, workers);
    runs++;
    std::map<std::string, std::string> entries = InflatedEntries(run.bytes);
    EXPECT_EQ("calm.txt", entries["calm.txt"]);
    bool refusedVictim = false;
    for (const auto& problem : run.problems) {
      EXPECT_EQ(source_ + "victim.bin", problem.first);
      EXPECT_EQ(kProblemChanged, problem.second) << "run " << runs;
      refusedVictim = true;
    }
    if (refusedVictim) {
      refused++;
      continue;
    }
    stored++;
    ASSERT_EQ(1u, entries.count("victim.bin")) << "run " << runs;
    const std::string& data = entries["victim.bin"];
    bool whole = data == std::string(versions[0].begin(), versions[0].end()) ||
                 data == std::string(versions[1].begin(), versions[1].end()) ||
                 (data.empty() && longestEmptyMs >= 100);
    ASSERT_TRUE(whole) << "run " << runs << ", workers " << workers << ": " << data.size()
                       << " bytes of no one version";
  }
  stop = true;
  writer.join();
  EXPECT_LT(0, rewrites.load());
  printf("%ld rewrites during %d runs: %d stored the file whole, %d refused it\n", rewrites.load(),
         runs, stored, refused);
}

// Out of files to open: the folders that could not be entered are reported with the system's
// reason, which says so, and nothing from them goes in.
TEST_F(ArchiverTest, RunningOutOfFilesToOpenIsReportedWithItsReason) {
  for (int i = 0; i < 5; ++i) Make({"d" + std::to_string(i) + "/", "d" + std::to_string(i) + "/x"});
  Make({"top.txt"});
  struct rlimit saved;
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &saved));
  // Three numbers free: the archive, the folder held and its listing; a folder below it is held
  // in the listing's place once that is read, and its own listing finds no number.
  struct rlimit tight = saved;
  int free = 0;
  for (tight.rlim_cur = 0; free < 3; ++tight.rlim_cur) free += fcntl(tight.rlim_cur, F_GETFD) == -1;
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &tight));
  Written run = Archive();
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &saved));
  EXPECT_EQ(std::vector<std::string>({"", "top.txt"}), run.names);
  ASSERT_EQ(5u, run.problems.size());
  for (int32_t i = 0; i < ArchiverProblemCount(); ++i) {
    EXPECT_EQ(kProblemFolderUnreadable, ArchiverProblemKind(i)) << ArchiverProblemPath(i).c_str();
    EXPECT_EQ(1, IsOutOfOpenFiles(ArchiverProblemReason(i))) << ArchiverProblemReason(i);
  }
}
#endif

}  // namespace
