// Numbered files: the 4096-byte buffer across its edges, calls that do nothing, PathSize,
// TempDirectory, paths past the capacity; kinds, resolved paths, identities, private folders,
// the states of open files, debris removed by an interrupt, the system's reasons; finished files
// put in place and leftovers removed.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/file.h"
#include "runtime/file_info.h"
#include "runtime/file_replace.h"
#include "runtime/filesystem.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "tests/runtime/test_support.h"

namespace {

using namespace test_support;
typedef std::vector<unsigned char> Bytes;

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    ASSERT_TRUE(folder_.Ok());
  }
  void TearDown() override { CloseAllFiles(); }  // Windows removes no open file
  std::string Path(const std::string& name) const { return folder_.Join(name); }
  TempFolder folder_;
};

// All plans write one path: a plan after a longer one shows that creating empties the file.
TEST_F(FileTest, WritesAcrossTheBufferEdgesKeepEveryByteInOrder) {
  const std::vector<int32_t> plans[] = {{1, 4094, 1, 4097, 3, 4093, 4096, 2, 8191, 5},
                                        {4095},
                                        {4096},
                                        {4097},
                                        {4095, 1, 4096},
                                        {1, 4096},
                                        std::vector<int32_t>(400, 31),
                                        {59392, 4097, 4}};
  for (const std::vector<int32_t>& plan : plans) {
    Bytes expected = PatternBytes(59392 + 4097 + 4, static_cast<uint32_t>(plan.size()));
    ASSERT_NE(0, CreateFileForWriting(1, Path("out").c_str()));
    int64_t offset = 0;
    for (int32_t size : plan) {
      ASSERT_EQ(size, WriteBytes(1, expected.data() + offset, size)) << "at " << offset;
      offset += size;
      ASSERT_EQ(offset, FileLength(1)) << "the length counts the buffered bytes";
    }
    CloseFileNumber(1);
    expected.resize(static_cast<size_t>(offset));
    EXPECT_EQ(expected, ReadWholeFile(Path("out"))) << "plan of " << plan.size() << " writes";
  }
}

// Reads in repeating plans of pieces, of 102,400 bytes too (what the archiver and reader ask).
TEST_F(FileTest, ReadsAcrossTheBufferEdgesInAwkwardPieces) {
  const std::vector<int32_t> plans[] = {{1},    {31},         {4095},         {4096},
                                        {4097}, {17, 102400}, {4095, 102400}, {4097, 102400}};
  for (int64_t size : {0, 1, 4095, 4096, 4097, 8192, 8193, 110000}) {
    Bytes content = PatternBytes(static_cast<size_t>(size), static_cast<uint32_t>(size));
    ASSERT_TRUE(WriteWholeFile(Path("in"), content));
    for (int run = 0; run < 8; run++) {
      const std::vector<int32_t>& plan = plans[run];
      ASSERT_NE(0, OpenFileForReading(2, Path("in").c_str()));
      EXPECT_EQ(size, FileLength(2));
      Bytes all, buffer(102400);
      for (size_t k = 0;; k++) {
        int64_t left = size - static_cast<int64_t>(all.size());
        int32_t piece = plan[k % plan.size()], got = ReadBytes(2, buffer.data(), piece);
        ASSERT_EQ(std::min<int64_t>(piece, left), got)
            << size << " bytes, run " << run << " at " << all.size();
        if (got == 0) break;
        all.insert(all.end(), buffer.begin(), buffer.begin() + got);
      }
      EXPECT_EQ(content, all) << size << " bytes, run " << run;
      CloseFileNumber(2);  // Windows rewrites no file that is open
    }
  }
}

// kAnyNumber gives identifiers apart (closing twice is harmless). Identifiers not in use, lengths
// of 0 or less, null buffers and writes to a reader do nothing (WriteInt32's bytes: tests/pack).
TEST_F(FileTest, IdentifiersAndCallsThatDoNothing) {
  Bytes b = PatternBytes(6000, 29), buffer(16);
  intptr_t any = CreateFileForWriting(kAnyNumber, Path("any").c_str());
  intptr_t other = CreateFileForWriting(kAnyNumber, Path("other").c_str());
  EXPECT_GE(any, kNumberLimit);
  EXPECT_NE(any, other);
  EXPECT_EQ(0, WriteBytes(any, b.data(), -1));
  EXPECT_EQ(0, WriteBytes(any, nullptr, 5));
  EXPECT_EQ(0, WriteBytes(any, b.data(), 0));
  ASSERT_EQ(6000, WriteBytes(other, b.data(), 6000));
  CloseFileNumber(any);
  CloseFileNumber(any);
  CloseFileNumber(other);
  EXPECT_TRUE(ReadWholeFile(Path("any")).empty());
  for (intptr_t id : {any, intptr_t(kAnyNumber), intptr_t(-2), intptr_t(INTPTR_MIN)}) {
    EXPECT_EQ(-1, FileLength(id)) << id;
    EXPECT_EQ(0, ReadBytes(id, buffer.data(), 16)) << id;
    EXPECT_EQ(0, WriteBytes(id, buffer.data(), 16)) << id;
  }
  intptr_t reader = OpenFileForReading(kAnyNumber, Path("other").c_str());
  ASSERT_NE(0, reader);
  EXPECT_EQ(0, ReadBytes(reader, nullptr, 10));
  EXPECT_EQ(0, ReadBytes(reader, buffer.data(), INT32_MIN));
  EXPECT_EQ(0, WriteBytes(reader, buffer.data(), 10)) << "a file opened for reading";
  EXPECT_EQ(0, WriteInt32(reader, 5)) << "a file opened for reading";
  EXPECT_EQ(16, ReadBytes(reader, buffer.data(), 16));
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 16), buffer) << "nothing was consumed or emptied";
  CloseFileNumber(reader);
}

// On POSIX "\" means "/"; one trailing separator is ignored; the root is -2.
TEST_F(FileTest, PathSizeOpeningAndRemoveFile) {
  std::string bare = folder_.Path().substr(0, folder_.Path().size() - 1), sub = Path("sub");
  std::string file = sub + Separator() + "file", backslashed = file;
  std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
  ASSERT_TRUE(MakeFolder(sub));
  ASSERT_TRUE(WriteWholeFile(file, PatternBytes(70001)));
  ASSERT_TRUE(WriteWholeFile(Path("empty"), {}));
  const struct {
    std::string path;
    int64_t size;
  } cases[] = {{Path("empty"), 0},
               {backslashed, 70001},
               {sub, -2},
               {sub + Separator(), -2},
               {TempDirectory().c_str(), -2},
               {Path("missing"), -1},
               {Path("missing") + Separator(), -1},
               {"", -1},
               {kPathSeparator == '/' ? "/" : "C:\\", -2},
               {kPathSeparator == '/' ? "\\" : "C:", -2}};
  for (const auto& c : cases) EXPECT_EQ(c.size, PathSize(c.path.c_str())) << "\"" << c.path << "\"";
  EXPECT_EQ(kPathSeparator, TempDirectory().Last());
  for (const std::string& path :
       {Path("missing"), folder_.Path(), bare, Path("no/such"), std::string()})
    EXPECT_EQ(0, OpenFileForReading(0, path.c_str())) << "\"" << path << "\"";
  for (const std::string& path : {folder_.Path(), bare, Path("no/such"), std::string()})
    EXPECT_EQ(0, CreateFileForWriting(0, path.c_str())) << "\"" << path << "\"";
  EXPECT_EQ(-1, FileLength(0)) << "a failed opening leaves no record";
  EXPECT_EQ(0, RemoveFile(sub.c_str())) << "a folder is no file";
  EXPECT_NE(0, RemoveFile(backslashed.c_str()));
  EXPECT_FALSE(Exists(file));
  EXPECT_EQ(0, RemoveFile(backslashed.c_str())) << "removed already";
  EXPECT_EQ(0, RemoveFile(""));
}

TEST_F(FileTest, KindsResolvedPathsIdentitiesAndPrivateFolders) {
  std::string sub = Path("sub"), file = Path("file");
  ASSERT_TRUE(MakeFolder(sub));
  ASSERT_TRUE(WriteWholeFile(file, {1}));
  ASSERT_TRUE(WriteWholeFile(Path("other"), {2}));
  const struct {
    std::string path;
    int kind;
  } kinds[] = {{file, kPathFile},
               {sub, kPathFolder},
               {sub + Separator(), kPathFolder},
               {Path("missing"), kPathNothing},
               {"", kPathNothing}};
  for (const auto& k : kinds) EXPECT_EQ(k.kind, PathKind(k.path.c_str())) << k.path;
  std::string resolved = ResolvedPath(folder_.Path().c_str()).c_str();
  ASSERT_NE("", resolved);
  EXPECT_NE(kPathSeparator, resolved.back()) << "no trailing separator";
  std::string dotted = sub + Separator() + ".." + Separator() + "." + Separator() + "file";
  EXPECT_EQ(resolved + Separator() + "file", ResolvedPath(dotted.c_str()).c_str());
  EXPECT_STREQ("", ResolvedPath(Path("missing").c_str()).c_str());
  // The open file answers for itself, and for no other.
  PathIdentity open, byName, other;
  ASSERT_NE(0, OpenFileForReading(0, file.c_str()));
  ASSERT_EQ(1, GetOpenFileIdentity(0, &open));
  ASSERT_TRUE(GetPathIdentity(file.c_str(), &byName));
  ASSERT_TRUE(GetPathIdentity(Path("other").c_str(), &other));
  EXPECT_TRUE(SameIdentity(open, byName));
  EXPECT_FALSE(SameIdentity(open, other));
  CloseFileNumber(0);
  EXPECT_EQ(0, GetOpenFileIdentity(0, &open)) << "a number not in use";
  std::string first = MakePrivateFolder(folder_.Path().c_str()).c_str();
  std::string second = MakePrivateFolder(folder_.Path().c_str()).c_str();
  ASSERT_EQ(folder_.Path(), first.substr(0, folder_.Path().size()));
  EXPECT_EQ(kPathSeparator, first.back());
  EXPECT_EQ(1, RemovePrivateFolder(first.c_str()));
  EXPECT_EQ(1, RemovePrivateFolder(second.c_str()));
#ifdef _WIN32
  EXPECT_EQ(folder_.Path(), first) << "the user's temporary folder is private already";
  EXPECT_TRUE(Exists(folder_.Path()));
#else
  EXPECT_NE(first, second) << "a new folder each time";
  EXPECT_FALSE(Exists(first)) << "removed";
  EXPECT_FALSE(Exists(second)) << "removed";
  ASSERT_EQ(0, mkfifo(Path("fifo").c_str(), 0600));
  EXPECT_EQ(kPathSpecial, PathKind(Path("fifo").c_str()));
  EXPECT_EQ(0, OpenFileForReading(0, Path("fifo").c_str())) << "no waiting for a writer";
  std::string mine = MakePrivateFolder(folder_.Path().c_str()).c_str();
  struct stat facts;
  ASSERT_EQ(0, stat(mine.c_str(), &facts));
  EXPECT_EQ(0700, facts.st_mode & 0777) << "no one else may enter";
#endif
}

// A finished file takes a free name without replacing what appeared there meanwhile, or replaces
// a file; a leftover goes only when it is a plain file of this user's. Whatever fails leaves both
// names as they were.
TEST_F(FileTest, FinishedFilesTakeTheirNamesAndOnlyOwnLeftoversGo) {
  enum { kNothing, kFile, kFolder, kLink, kDanglingLink };
  const struct {
    const char* label;
    int there;
    int renamed;  // RenameWithoutReplacing
    int replaced;  // ReplaceFileWith
    int removed;  // RemoveOwnPlainFile
  } cases[] = {
      {"nothing there", kNothing, 1, 1, 0},
      {"a file", kFile, 0, 1, 1},
      {"a folder", kFolder, 0, 0, 0},
#ifndef _WIN32
      // A link is replaced as a name, never written through.
      {"a link to a file", kLink, 0, 1, 0},
      {"a dangling link", kDanglingLink, 0, 1, 0},
#endif
  };
  std::string target = Path("target"), part = Path("part"), outside = Path("outside");
  const Bytes kOld = {'o', 'l', 'd'}, kNew = {'n', 'e', 'w'};
  auto make = [&](int there) {
    std::filesystem::remove_all(target);
    if (there == kFile) {
      ASSERT_TRUE(WriteWholeFile(target, kOld));
    } else if (there == kFolder) {
      ASSERT_TRUE(MakeFolder(target));
    }
    if (there == kLink || there == kDanglingLink) {
      std::filesystem::create_symlink(there == kLink ? outside : Path("none"), target);
    }
    ASSERT_TRUE(WriteWholeFile(part, kNew));
    ASSERT_TRUE(WriteWholeFile(outside, kOld));
  };
  auto check = [&](int moved, int there) {
    EXPECT_EQ(moved ? Bytes() : kNew, Exists(part) ? ReadWholeFile(part) : Bytes());
    if (moved) {
      EXPECT_EQ(kNew, ReadWholeFile(target));
    } else if (there == kFile) {
      EXPECT_EQ(kOld, ReadWholeFile(target));
    }
    EXPECT_EQ(kOld, ReadWholeFile(outside)) << "nothing written through a link";
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    make(c.there);
    EXPECT_EQ(c.renamed, RenameWithoutReplacing(target.c_str(), part.c_str()));
    if (!c.renamed) {
      EXPECT_NE(0, LastSystemError()) << "the name is taken, and it says so";
    }
    check(c.renamed, c.there);
    make(c.there);
    EXPECT_EQ(c.replaced, ReplaceFileWith(target.c_str(), part.c_str()));
    check(c.replaced, c.there);
    make(c.there);
    EXPECT_EQ(c.removed, RemoveOwnPlainFile(target.c_str()));
    EXPECT_EQ(c.removed || c.there == kNothing, !Exists(target) && !IsLinkPath(target.c_str()));
  }
#ifdef _WIN32
  // A part file whose path only fits as an extended one meets a target with an ANSI path.
  make(kNothing);
  EXPECT_EQ(1, RenameWithoutReplacing(target.c_str(), ("\\\\?\\" + part).c_str()));
  check(1, kNothing);
  make(kFile);
  EXPECT_EQ(1, ReplaceFileWith(("\\\\?\\" + target).c_str(), part.c_str()));
  check(1, kFile);
#endif
}

// Reading and looking leave an open file's state as it was; its last-write time is the one the
// path gives. A name that reaches nothing fails with a reason in the system's words.
TEST_F(FileTest, FileStatesStayWhileTheFileIsReadAndFailuresHaveReasons) {
  std::string path = Path("state");
  ASSERT_TRUE(WriteWholeFile(path, PatternBytes(150000)));
  intptr_t plain = OpenPlainFileForReading(path.c_str());
  ASSERT_NE(0, OpenFileForReading(4, path.c_str()));
  FileState before, after, numbered;
  ASSERT_EQ(1, GetPlainFileState(plain, &before, 1));
  std::vector<unsigned char> buffer(200000);
  EXPECT_EQ(150000, ReadPlainFile(plain, buffer.data(), 200000));
  ASSERT_EQ(1, GetPlainFileState(plain, &after, 0));
  ASSERT_EQ(1, GetOpenFileState(4, &numbered, 0));
  EXPECT_TRUE(SameFileState(before, after)) << "reading changes nothing";
  EXPECT_TRUE(SameFileState(before, numbered)) << "one file, two ways to open it";
  EXPECT_EQ(150000, before.size);
  PathIdentity byName;
  ASSERT_TRUE(GetPathIdentity(path.c_str(), &byName));
  EXPECT_TRUE(SameIdentity(byName, before.identity));
  LocalTimeFields fromState, fromPath;
  ASSERT_EQ(1, LocalTimeOfFileTime(before.writeTime, &fromState));
  ASSERT_EQ(1, GetFileModificationTime(path.c_str(), &fromPath));
  EXPECT_EQ(fromPath.year * 10000000000LL + fromPath.month * 100000000LL + fromPath.day * 1000000 +
                fromPath.hour * 10000 + fromPath.minute * 100 + fromPath.second,
            fromState.year * 10000000000LL + fromState.month * 100000000LL +
                fromState.day * 1000000 + fromState.hour * 10000 + fromState.minute * 100 +
                fromState.second);
  ClosePlainFile(plain);
  CloseFileNumber(4);
  EXPECT_EQ(0, GetPlainFileState(0, &after, 1));
  EXPECT_EQ(0, GetOpenFileState(4, &after, 0)) << "a number not in use";
  EXPECT_EQ(0, OpenPlainFileForReading(Path("missing").c_str()));
  int32_t reason = LastSystemError();
  EXPECT_NE(0, reason);
  EXPECT_STRNE("", SystemErrorText(reason).c_str());
  EXPECT_EQ(0, IsOutOfOpenFiles(reason));
  EXPECT_STREQ("", SystemErrorText(0).c_str());
}

// Plain files read and write where the last seek put them, also after a settled look at their
// state; a file opened anew starts at its beginning whatever the last file did.
TEST_F(FileTest, PlainFilesReadAndWriteWhereTheySeek) {
  std::string path = Path("plain");
  intptr_t out = CreateNewPlainFile(path.c_str());
  ASSERT_NE(0, out);
  EXPECT_EQ(6, WritePlainFile(out, "abcdef", 6));
  ASSERT_EQ(1, SeekPlainFile(out, 2));
  EXPECT_EQ(2, WritePlainFile(out, "XY", 2));
  EXPECT_EQ(1, WritePlainFile(out, "Z", 1)) << "on from where the last write ended";
  ASSERT_EQ(1, SeekPlainFile(out, 9));
  FileState state;
  ASSERT_EQ(1, GetPlainFileState(out, &state, 1));
  EXPECT_EQ(1, WritePlainFile(out, "!", 1)) << "past the end, after a settled look";
  EXPECT_EQ(0, SeekPlainFile(out, -1));
  ClosePlainFile(out);
  const char expected[] = "abXYZf\0\0\0!";
  struct Step {
    int64_t seek;  // -1: read on
    int32_t length;
    const char* bytes;
    int32_t got;
  } steps[] = {
      {3, 3, expected + 3, 3}, {-1, 2, expected + 6, 2}, {9, 5, "!", 1},
      {0, 2, "ab", 2},         {-1, 1, "X", 1},          {20, 4, "", 0},
  };
  intptr_t in = OpenPlainFileForReading(path.c_str());
  ASSERT_NE(0, in);
  for (const Step& step : steps) {
    if (step.seek >= 0) {
      ASSERT_EQ(1, SeekPlainFile(in, step.seek));
    }
    char buffer[8] = {};
    ASSERT_EQ(step.got, ReadPlainFile(in, buffer, step.length)) << "at " << step.seek;
    EXPECT_EQ(0, memcmp(buffer, step.bytes, step.got)) << "at " << step.seek;
  }
  ASSERT_EQ(1, SeekPlainFile(in, 4));
  ClosePlainFile(in);
  in = OpenPlainFileForReading(path.c_str());
  char first[3] = {};
  EXPECT_EQ(3, ReadPlainFile(in, first, 3));
  EXPECT_EQ(0, memcmp(first, "abX", 3)) << "a new file starts at its beginning";
  ClosePlainFile(in);
}

#ifndef _WIN32
// Whatever writes to an open file after its settled state was taken changes that state, even a
// rewrite in place of the same size right after it (within one tick of a coarse clock), a
// truncation, or new bytes behind a time set back by hand; another file under the name has
// another identity.
TEST_F(FileTest, EveryChangeAfterASettledStateShows) {
  std::string path = Path("rewritten");
  const int kRounds = 12;
  for (int round = 0; round < kRounds; ++round) {
    ASSERT_TRUE(WriteWholeFile(path, PatternBytes(4000, round)));
    intptr_t file = OpenPlainFileForReading(path.c_str());
    FileState before, after;
    ASSERT_EQ(1, GetPlainFileState(file, &before, 1));
    std::vector<unsigned char> other = PatternBytes(4000, round + 1000);
    int writer = open(path.c_str(), O_WRONLY);
    ASSERT_EQ(4000, pwrite(writer, other.data(), other.size(), 0));
    if (round % 4 == 1) {
      ASSERT_EQ(0, ftruncate(writer, 0));
    }
    if (round % 4 == 2) {
      struct timespec times[2] = {{0, UTIME_OMIT}, {before.writeTime / 1000000000, 0}};
      ASSERT_EQ(0, futimens(writer, times));
    }
    close(writer);
    ASSERT_EQ(1, GetPlainFileState(file, &after, 0));
    EXPECT_FALSE(SameFileState(before, after)) << "round " << round;
    ClosePlainFile(file);
  }
  intptr_t file = OpenPlainFileForReading(path.c_str());
  FileState before, renamed;
  ASSERT_EQ(1, GetPlainFileState(file, &before, 1));
  ASSERT_TRUE(WriteWholeFile(Path("other"), PatternBytes(4000)));
  ASSERT_EQ(0, rename(Path("other").c_str(), path.c_str()));
  intptr_t again = OpenPlainFileForReading(path.c_str());
  ASSERT_EQ(1, GetPlainFileState(again, &renamed, 0));
  EXPECT_FALSE(SameIdentity(before.identity, renamed.identity));
  ClosePlainFile(again);
  ClosePlainFile(file);
}

// Noted debris goes when an interrupt ends the process: a file, and a private folder with the
// files a run put in it. A folder swapped for a link to elsewhere after it was noted is not
// emptied through the link, and a slot forgotten again is left alone.
TEST_F(FileTest, NotedDebrisIsRemovedByAnInterrupt) {
  std::string elsewhere = Path("elsewhere"), kept = Path("kept");
  ASSERT_TRUE(MakeFolder(elsewhere));
  ASSERT_TRUE(WriteWholeFile(elsewhere + "/precious", PatternBytes(3)));
  ASSERT_TRUE(WriteWholeFile(kept, PatternBytes(3)));
  for (int swapped = 0; swapped < 2; ++swapped) {
    std::string mine = MakePrivateFolder(folder_.Path().c_str()).c_str();
    ASSERT_NE("", mine);
    for (const char* name : {"Vezovud7", "Vezovud7-0", "Vezovud7-1234"})
      ASSERT_TRUE(WriteWholeFile(mine + name, PatternBytes(3)));
    std::string part = Path(".~vzpart" + std::to_string(swapped));
    ASSERT_TRUE(WriteWholeFile(part, PatternBytes(3)));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      HoldInterrupts(1);
      int ok = NoteDebris(mine.c_str(), kDebrisPrivateFolder) >= 0 &&
               NoteDebris(part.c_str(), kDebrisFile) >= 0;
      int32_t forgotten = NoteDebris(kept.c_str(), kDebrisFile);
      ForgetDebris(forgotten);
      HoldInterrupts(0);
      if (!ok || forgotten < 0 || !CatchInterrupts(RemoveDebrisNow)) _exit(1);
      if (swapped) {
        std::string away = mine.substr(0, mine.size() - 1) + "-away";
        if (rename(mine.c_str(), away.c_str()) != 0 ||
            symlink(elsewhere.c_str(), mine.substr(0, mine.size() - 1).c_str()) != 0) {
          _exit(1);
        }
      }
      raise(SIGTERM);
      _exit(2);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(128 + SIGTERM, WEXITSTATUS(status));
    EXPECT_FALSE(Exists(part)) << swapped;
    EXPECT_TRUE(Exists(kept)) << "forgotten";
    EXPECT_TRUE(Exists(elsewhere + "/precious")) << "nothing removed through a link";
    EXPECT_EQ(swapped ? 1 : 0, Exists(mine.substr(0, mine.size() - 1)));
  }
}

// Only a plain file of this user's with one name that no one marks in use counts as left behind;
// a link is never followed, its target untouched.
TEST_F(FileTest, OnlyFilesLeftBehindAreRemoved) {
  ASSERT_TRUE(WriteWholeFile(Path("target"), PatternBytes(3)));
  ASSERT_TRUE(WriteWholeFile(Path("in use"), PatternBytes(3)));
  intptr_t held = OpenFileForReading(kAnyNumber, Path("in use").c_str());
  ASSERT_EQ(1, MarkFileInUse(held));
  ASSERT_TRUE(WriteWholeFile(Path("two names"), PatternBytes(3)));
  ASSERT_EQ(0, link(Path("two names").c_str(), Path("second").c_str()));
  ASSERT_EQ(0, symlink(Path("target").c_str(), Path("link").c_str()));
  ASSERT_TRUE(MakeFolder(Path("folder")));
  ASSERT_TRUE(WriteWholeFile(Path("left"), PatternBytes(3)));
  const struct {
    const char* name;
    int removed;
  } rows[] = {{"left", 1},  {"in use", 0}, {"two names", 0},
              {"link", 0},  {"folder", 0}, {"missing", 0}};
  for (const auto& row : rows) {
    EXPECT_EQ(row.removed, RemoveFileLeftBehind(Path(row.name).c_str())) << row.name;
    EXPECT_EQ(!row.removed && row.name != std::string("missing"), Exists(Path(row.name)))
        << row.name;
  }
  EXPECT_TRUE(Exists(Path("target")));
  CloseFileNumber(held);
  EXPECT_EQ(1, RemoveFileLeftBehind(Path("in use").c_str())) << "no longer in use";
}

// $TMPDIR counts only when it names a folder that fits a path with its "/".
TEST_F(FileTest, TempDirectoryFollowsTmpdirOnlyWhenItIsAFolder) {
  std::string saved = getenv("TMPDIR") ? getenv("TMPDIR") : "", mine = folder_.Path();
  std::string bare = mine.substr(0, mine.size() - 1);
  // Two short of the capacity: with its "/" and the zero it fits exactly.
  std::string fits = NestedPath(mine, kPathCapacity - 2, 'd', 'e');
  ASSERT_TRUE(MakeFolder(fits));
  ASSERT_TRUE(MakeFolder(fits + "e"));
  ASSERT_TRUE(WriteWholeFile(Path("plain"), Bytes()));
  const std::string cases[][2] = {
      {bare, mine},  {mine, mine},       {Path("missing"), "/tmp/"}, {Path("plain"), "/tmp/"},
      {"", "/tmp/"}, {fits, fits + "/"}, {fits + "e", "/tmp/"}};
  for (const auto& c : cases) {
    setenv("TMPDIR", c[0].c_str(), 1);
    EXPECT_EQ(c[1], std::string(TempDirectory().c_str())) << "TMPDIR=" << c[0];
  }
  unsetenv("TMPDIR");
  EXPECT_EQ("/tmp/", std::string(TempDirectory().c_str()));
  if (!saved.empty()) setenv("TMPDIR", saved.c_str(), 1);
}
#endif

// A path one short of the capacity fits with its zero; one more, 73 more, 100,000 and a zero
// byte inside fail every operation and never reach a file under a cut name (all end in "f"s).
TEST_F(FileTest, PathsBeyondTheCapacityFailAndAreNeverCut) {
  std::string fits = NestedPath(folder_.Path(), kPathCapacity - 1, 'd', 'f');
  std::string far = NestedPath(folder_.Path(), kPathCapacity + 73, 'd', 'f');
  ASSERT_NE(0, CreateFileForWriting(0, fits.c_str()));
  EXPECT_EQ(4, WriteInt32(0, 259));
  CloseFileNumber(0);
  EXPECT_EQ(4, PathSize(fits.c_str()));
  EXPECT_NE(0, OpenFileForReading(0, fits.c_str()));
  bool farExists = WriteWholeFile(far, PatternBytes(8));  // where the system takes it
  const Text overs[] = {(fits + "f").c_str(), far.c_str(), std::string(100000, 'x').c_str(),
                        Text(fits.c_str()) + Text("\0tail", 5)};
  for (const Text& over : overs) {
    EXPECT_EQ(0, OpenFileForReading(1, over)) << over.Length();
    EXPECT_EQ(0, CreateFileForWriting(1, over)) << over.Length();
    EXPECT_EQ(0, CreateFileForWriting(kAnyNumber, over)) << over.Length();
    EXPECT_EQ(0, RemoveFile(over)) << over.Length();
    EXPECT_EQ(-1, PathSize(over)) << over.Length();
  }
  EXPECT_EQ(4u, ReadWholeFile(fits).size()) << "the file that fits was touched";
  EXPECT_FALSE(Exists(fits + "f"));
  EXPECT_TRUE(!farExists || ReadWholeFile(far).size() == 8u) << "the longer file was touched";
  // A folder two short of the capacity fits with its separator, one more does not (Windows
  // makes no folder of more than 248 characters).
  std::string folderFits = NestedPath(folder_.Path(), kPathCapacity - 2, 'd', 'f');
  if (MakeFolder(folderFits) || kPathSeparator == '/') {
    EXPECT_EQ(-2, PathSize(folderFits.c_str()));
    EXPECT_EQ(-2, PathSize((folderFits + Separator()).c_str()));
  }
  EXPECT_EQ(-1, PathSize((folderFits + "f" + Separator()).c_str()));
}

}  // namespace
