// What the Folder archiver's walk lists and what it leaves out: name modes,
// patterns, the archive inside its own folder, link loops, names Windows
// cannot hold, files of 4 GiB and files that cannot be read.
#include <gtest/gtest.h>

#include <string>

#include "archive/folder_archiver.h"
#include "archiver_test_support.h"
#include "runtime/system.h"
#include "support/foreign_readers.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using archiver_test::Bytes;
using archiver_test::ArchiverRun;
using archiver_test::RunArchiver;
using archiver_test::TextBytes;
using test_support::Separator;
using test_support::TempFolder;
using test_support::WriteWholeFile;

namespace {

class ArchiverWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    InitFolderArchiver();
    ASSERT_TRUE(work_.Ok());
    source_ = work_.Join("src") + Separator();
    ASSERT_TRUE(test_support::MakeFolder(source_ + "inner"));
    ASSERT_TRUE(WriteWholeFile(source_ + "one.txt", TextBytes("one")));
    ASSERT_TRUE(WriteWholeFile(source_ + "README", TextBytes("no extension")));
    ASSERT_TRUE(WriteWholeFile(source_ + ".hidden", TextBytes("dot file")));
    ASSERT_TRUE(WriteWholeFile(source_ + "inner" + Separator() + "two.doc", TextBytes("two")));
    archive_ = work_.Join("out.zip");
  }
  void TearDown() override { FreeFolderArchiver(); }

  static std::vector<std::string> Names(const ArchiverRun& run) {
    std::vector<std::string> names;
    for (const auto& c : run.zip.central) names.push_back(c.name);
    return names;
  }

  TempFolder work_;
  std::string source_;
  std::string archive_;
};

TEST_F(ArchiverWalkTest, RelativeNamesWithFolderEntries) {
  ArchiverRun run = RunArchiver(archive_, source_ + "*.*");
  ASSERT_EQ("", run.zip.error);
  EXPECT_EQ(4, run.added) << "README and the hidden file go in too";
  std::vector<std::string> expected = {"", ".hidden", "inner\\", "inner\\two.doc", "one.txt",
                                       "README"};
  EXPECT_EQ(expected, Names(run));
}

TEST_F(ArchiverWalkTest, FileNamesOnlyWithoutRecursion) {
  ArchiverRun run = RunArchiver(archive_, source_ + "*.*", kNameFileOnly, 0);
  EXPECT_EQ(3, run.added);
  std::vector<std::string> expected = {".hidden", "one.txt", "README"};
  EXPECT_EQ(expected, Names(run)) << "no folder entries with nameMode 0";
}

TEST_F(ArchiverWalkTest, FullPathsKeepThePathAsFound) {
  ArchiverRun run = RunArchiver(archive_, source_ + "*.txt", kNameFullPath, 0);
  EXPECT_EQ(1, run.added);
  ASSERT_EQ(2u, run.zip.central.size());
  std::string expected;
  for (char c : source_ + "one.txt") expected += (c == kPathSeparator) ? '\\' : c;
  EXPECT_EQ(expected, run.zip.central[1].name);
}

TEST_F(ArchiverWalkTest, PatternSelectsFilesButFoldersStillWalked) {
  ArchiverRun run = RunArchiver(archive_, source_ + "*.doc");
  EXPECT_EQ(1, run.added);
  std::vector<std::string> expected = {"", "inner\\", "inner\\two.doc"};
  EXPECT_EQ(expected, Names(run));
}

TEST_F(ArchiverWalkTest, FolderWithoutTrailingSeparatorInsideTheWalk) {
  // The relative name drops only the leading folder, even when the folder's
  // text comes again further down the path.
  std::string repeat = source_ + "inner" + Separator() + "src" + Separator();
  ASSERT_TRUE(test_support::MakeFolder(repeat));
  ASSERT_TRUE(WriteWholeFile(repeat + "deep.txt", TextBytes("deep")));
  ArchiverRun run = RunArchiver(archive_, source_ + "*.*");
  bool found = false;
  for (const auto& name : Names(run)) found = found || name == "inner\\src\\deep.txt";
  EXPECT_TRUE(found);
}

TEST_F(ArchiverWalkTest, ArchiveInsideTheFolderIsNotListed) {
  std::string inside = source_ + "inner" + Separator() + "Vezovud42";
  ArchiverRun run = RunArchiver(inside, source_ + "*.*");
  ASSERT_EQ("", run.zip.error);
  EXPECT_EQ(4, run.added);
  for (const auto& name : Names(run)) EXPECT_NE("inner\\Vezovud42", name);
  EXPECT_TRUE(run.problems.empty());
#ifndef _WIN32
  EXPECT_EQ("", foreign_readers::CheckAll(inside));
#endif
}

#ifndef _WIN32
TEST_F(ArchiverWalkTest, LinkLoopIsNotFollowedAgain) {
  std::string inner = source_ + "inner" + Separator();
  ASSERT_EQ(0, symlink("..", (inner + "up").c_str()));
  ASSERT_EQ(0, symlink(source_.c_str(), (inner + "root").c_str()));
  ArchiverRun run = RunArchiver(archive_, source_ + "*.*");
  ASSERT_EQ("", run.zip.error);
  EXPECT_EQ(4, run.added);
  EXPECT_EQ(6u, run.zip.central.size());
}

TEST_F(ArchiverWalkTest, LinkToAFolderOutsideIsFollowed) {
  std::string outside = work_.Join("elsewhere") + Separator();
  ASSERT_TRUE(test_support::MakeFolder(outside));
  ASSERT_TRUE(WriteWholeFile(outside + "x.txt", TextBytes("x")));
  ASSERT_EQ(0, symlink(outside.c_str(), (source_ + "link").c_str()));
  ArchiverRun run = RunArchiver(archive_, source_ + "*.*");
  EXPECT_EQ(5, run.added);
}

TEST_F(ArchiverWalkTest, NamesWindowsCannotHoldAreReportedNotStored) {
  const char* bad[] = {"a:b", "q?", "back\\slash", "star*", "quote\"", "lt<", "gt>", "pipe|",
                       "tab\tname"};
  for (const char* name : bad) ASSERT_TRUE(WriteWholeFile(source_ + name, TextBytes(name)));
  ASSERT_TRUE(test_support::MakeFolder(source_ + "dir:x"));
  ASSERT_TRUE(WriteWholeFile(source_ + "dir:x" + Separator() + "fine.txt", TextBytes("f")));
  ArchiverRun run = RunArchiver(archive_, source_ + "*.*");
  ASSERT_EQ("", run.zip.error);
  EXPECT_EQ(4, run.added) << "only the portable names count";
  for (const auto& name : Names(run)) {
    for (char c : std::string(":*?\"<>|\t")) EXPECT_EQ(std::string::npos, name.find(c)) << name;
  }
  size_t badNames = 0;
  for (const auto& p : run.problems) badNames += p.second == kProblemBadName;
  EXPECT_EQ(11u, badNames) << "9 files, the folder entry and the file below it";
  EXPECT_EQ("", foreign_readers::CheckAll(archive_));
}

TEST_F(ArchiverWalkTest, FileOf4GiBIsNotAdded) {
  std::string big = source_ + "huge.bin";
  int fd = open(big.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, ftruncate(fd, 0x100000000LL)) << "sparse 4 GiB file";
  close(fd);
  ArchiverRun run = RunArchiver(archive_, source_ + "*.*");
  ASSERT_EQ("", run.zip.error);
  EXPECT_EQ(4, run.added);
  for (const auto& name : Names(run)) EXPECT_NE("huge.bin", name);
  ASSERT_EQ(1u, run.problems.size());
  EXPECT_EQ(big, run.problems[0].first);
  EXPECT_EQ(kProblemTooLarge, run.problems[0].second);
}

TEST_F(ArchiverWalkTest, DanglingLinkIsAnEmptyFileWithTheFixedDate) {
  // As on Windows, a link whose target is gone is a file of size 0.
  ASSERT_EQ(0, symlink((source_ + "nowhere").c_str(), (source_ + "dangling").c_str()));
  ArchiverRun run = RunArchiver(archive_, source_ + "*.*");
  EXPECT_EQ(5, run.added);
  bool found = false;
  for (const auto& c : run.zip.central) {
    if (c.name != "dangling") continue;
    found = true;
    EXPECT_EQ(0u, c.uncompressedSize);
    EXPECT_EQ(0xC421, c.date) << "an unreadable time keeps the 1970 fields";
    EXPECT_EQ(0, c.time);
  }
  EXPECT_TRUE(found);
}

TEST_F(ArchiverWalkTest, UnreadableFileIsStoredEmptyAndReported) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  std::string locked = source_ + "locked.txt";
  ASSERT_TRUE(WriteWholeFile(locked, TextBytes("secret")));
  ASSERT_EQ(0, chmod(locked.c_str(), 0));
  ArchiverRun run = RunArchiver(archive_, source_ + "*.*");
  EXPECT_EQ(4, run.added);
  ASSERT_EQ(1u, run.problems.size());
  EXPECT_EQ(locked, run.problems[0].first);
  EXPECT_EQ(kProblemUnreadable, run.problems[0].second);
}
#endif

TEST(MatchNamePatternTest, Table) {
  struct Case {
    const char* text;
    const char* pattern;
    int expected;
  };
  const Case cases[] = {
      {"bc", "*bc", 0},        // "*" takes at least one character before a literal
      {"abc", "abc*", 1},
      {"Readme", "readme", 1},  // equal after lower-casing
      {"", "*", 1},
      {"anything", "*", 1},
      {"txt", "txt", 1},
      {"TXT", "txt", 1},
      {"doc", "txt", 0},
      // A text without "." gets one, so a pattern that does not end in "*"
      // matches it only when both are equal.
      {"doc", "txt|doc", 0},
      {"doc", "txt|do*", 1},    // the second alternative
      {"a", "?", 0},
      {"a", "?*", 1},
      {"a.b", "a?b", 1},
      {"ab", "?", 0},
      {"", "?", 1},             // the empty text becomes "."
      {"abc", "a*c", 0},
      {"abc", "a*c*", 1},
      {"abc", "a*d", 0},
      {"\xC9t\xC9", "\xE9t\xE9", 1},  // 0xC0..0xDE are lower-cased too
      {"x", "", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, MatchNamePattern(c.text, c.pattern))
        << "text \"" << c.text << "\" pattern \"" << c.pattern << "\"";
  }
}

TEST(PortableNameTest, Table) {
  EXPECT_EQ(1, IsPortableNamePart("plain name.txt"));
  EXPECT_EQ(1, IsPortableNamePart(""));
  EXPECT_EQ(1, IsPortableNamePart("\xE9t\xE9"));
  for (const char* bad : {"a\\b", "c:", "*", "?", "\"", "<", ">", "|", "x\x01", "\x1f"}) {
    EXPECT_EQ(0, IsPortableNamePart(bad)) << bad;
  }
}

}  // namespace
