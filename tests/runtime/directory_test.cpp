// Tests of directory listings: every name with "." and "..", the fixed order
// on POSIX, Windows-style patterns, kinds (links included on POSIX), the
// table of numbers, and search paths too long for 260 characters.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "runtime/directory.h"
#include "runtime/file.h"
#include "runtime/system.h"
#include "tests/runtime/test_support.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using test_support::Separator;
using test_support::TempFolder;
using test_support::WriteWholeFile;

struct Entry {
  std::string name;
  int kind;
  bool operator==(const Entry& other) const { return name == other.name && kind == other.kind; }
  bool operator<(const Entry& other) const { return name < other.name; }
};

std::ostream& operator<<(std::ostream& out, const Entry& entry) {
  return out << entry.name << "(" << entry.kind << ")";
}

// Every entry of listing, in delivery order.
std::vector<Entry> Drain(intptr_t listing) {
  std::vector<Entry> entries;
  for (int guard = 0; guard < 10000 && NextEntry(listing); guard++) {
    entries.push_back({EntryName(listing).c_str(), EntryKind(listing)});
  }
  return entries;
}

std::vector<std::string> Names(const std::vector<Entry>& entries) {
  std::vector<std::string> names;
  for (const Entry& entry : entries) names.push_back(entry.name);
  return names;
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

class DirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    ASSERT_TRUE(folder_.Ok());
  }
  // Windows removes no folder that a search still holds.
  void TearDown() override { CloseAllListings(); }

  void MakeFile(const std::string& name) {
    ASSERT_TRUE(WriteWholeFile(folder_.Join(name), test_support::PatternBytes(3)));
  }
  void MakeFolder(const std::string& name) {
    ASSERT_TRUE(test_support::MakeFolder(folder_.Join(name)));
  }
  // The folder's path without its final separator.
  std::string Bare() const { return folder_.Path().substr(0, folder_.Path().size() - 1); }

  TempFolder folder_;
};

TEST_F(DirectoryTest, ListsEveryNameWithDotsAndKinds) {
  MakeFile("plain.txt");
  MakeFile("noextension");
  MakeFile("Upper.TXT");
  MakeFolder("sub");
  MakeFolder("sub.dir");
  ASSERT_NE(0, OpenDirectoryListing(0, folder_.Path().c_str(), "*.*"));
  std::vector<Entry> entries = Drain(0);
  std::vector<Entry> expected = {{".", kEntryDirectory},       {"..", kEntryDirectory},
                                 {"Upper.TXT", kEntryFile},    {"noextension", kEntryFile},
                                 {"plain.txt", kEntryFile},    {"sub", kEntryDirectory},
                                 {"sub.dir", kEntryDirectory}};
  std::vector<Entry> got = entries;
  std::sort(got.begin(), got.end());
  EXPECT_EQ(expected, got);
  // After the last entry nothing is current, and it stays that way.
  EXPECT_EQ(0, NextEntry(0));
  EXPECT_EQ(kEntryNone, EntryKind(0));
  EXPECT_EQ(std::string(), EntryName(0).c_str());
  CloseDirectoryListing(0);
}

TEST_F(DirectoryTest, NothingIsCurrentBeforeTheFirstNextEntry) {
  MakeFile("a");
  ASSERT_NE(0, OpenDirectoryListing(0, folder_.Path().c_str(), "a"));
  EXPECT_EQ(kEntryNone, EntryKind(0));
  EXPECT_EQ(std::string(), EntryName(0).c_str());
  ASSERT_NE(0, NextEntry(0));
  EXPECT_EQ(kEntryFile, EntryKind(0));
  EXPECT_EQ(std::string("a"), EntryName(0).c_str());
  EXPECT_EQ(0, NextEntry(0));
  CloseDirectoryListing(0);
}

#ifndef _WIN32
TEST_F(DirectoryTest, PosixOrderIsDotsThenUpperCasedBytes) {
  // "!" and "-" sort before "." by their bytes, yet "." and ".." come first;
  // "_" lies between "Z" and "a", but upper-cased "a" comes before it; equal
  // upper-cased forms fall back to the plain bytes (upper case first).
  const char* names[] = {"beta", "_under", "Alpha", "alpha", "!bang", "-dash", "Zed",
                         "[x",   "ALPHA",  "b",     "B",     "\xC3\xA9t\xC3\xA9", "a.b", "a"};
  for (const char* name : names) MakeFile(name);
  MakeFolder("Middle");
  ASSERT_NE(0, OpenDirectoryListing(0, folder_.Path().c_str(), ""));
  std::vector<std::string> expected = {".",     "..",     "!bang", "-dash", "a",     "a.b",
                                       "ALPHA", "Alpha",  "alpha", "B",     "b",     "beta",
                                       "Middle", "Zed",   "[x",    "_under", "\xC3\xA9t\xC3\xA9"};
  EXPECT_EQ(expected, Names(Drain(0)));
  CloseDirectoryListing(0);
}

TEST_F(DirectoryTest, PosixLinksCountByWhatTheyReach) {
  MakeFolder("target");
  MakeFile("file");
  ASSERT_EQ(0, symlink((folder_.Path() + "target").c_str(), folder_.Join("tolink").c_str()));
  ASSERT_EQ(0, symlink((folder_.Path() + "file").c_str(), folder_.Join("tofile").c_str()));
  ASSERT_EQ(0, symlink((folder_.Path() + "gone").c_str(), folder_.Join("dangling").c_str()));
  ASSERT_NE(0, OpenDirectoryListing(0, folder_.Path().c_str(), "*"));
  std::vector<Entry> expected = {{".", kEntryDirectory},     {"..", kEntryDirectory},
                                 {"dangling", kEntryFile},   {"file", kEntryFile},
                                 {"target", kEntryDirectory}, {"tofile", kEntryFile},
                                 {"tolink", kEntryDirectory}};
  EXPECT_EQ(expected, Drain(0));
  CloseDirectoryListing(0);
  EXPECT_EQ(-2, PathSize(folder_.Join("tolink").c_str()));
  EXPECT_EQ(3, PathSize(folder_.Join("tofile").c_str()));
  EXPECT_EQ(0, PathSize(folder_.Join("dangling").c_str()));
}

TEST_F(DirectoryTest, PosixRootListsWithDots) {
  ASSERT_NE(0, OpenDirectoryListing(0, "/", "*.*"));
  std::vector<std::string> names = Names(Drain(0));
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(".", names[0]);
  EXPECT_EQ("..", names[1]);
  EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "tmp"));
  CloseDirectoryListing(0);
}
#endif

TEST_F(DirectoryTest, PatternsMatchAsOnWindows) {
  const char* names[] = {"a.txt", "B.TXT", "c.txt.bak", "readme", "readme.md", "beta", "zeta.txt"};
  for (const char* name : names) MakeFile(name);
  struct Case {
    const char* pattern;
    std::vector<std::string> expected;
  } cases[] = {
      {"*.txt", {"B.TXT", "a.txt", "zeta.txt"}},
      {"*.TXT", {"B.TXT", "a.txt", "zeta.txt"}},
      {"?eta", {"beta"}},
      {"?eta*", {"beta", "zeta.txt"}},
      {"readme.*", {"readme", "readme.md"}},
      {"README", {"readme"}},
      {"*.bak", {"c.txt.bak"}},
      {"*", {".", "..", "B.TXT", "a.txt", "beta", "c.txt.bak", "readme", "readme.md", "zeta.txt"}},
      {"*.*", {".", "..", "B.TXT", "a.txt", "beta", "c.txt.bak", "readme", "readme.md", "zeta.txt"}},
      {"", {".", "..", "B.TXT", "a.txt", "beta", "c.txt.bak", "readme", "readme.md", "zeta.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("pattern \"") + c.pattern + "\"");
    ASSERT_NE(0, OpenDirectoryListing(1, folder_.Path().c_str(), c.pattern));
    EXPECT_EQ(c.expected, Sorted(Names(Drain(1))));
    CloseDirectoryListing(1);
  }
  // Like FindFirstFileA: a pattern that matches nothing gives no listing.
  EXPECT_EQ(0, OpenDirectoryListing(1, folder_.Path().c_str(), "*.none"));
  EXPECT_EQ(0, NextEntry(1));
}

TEST_F(DirectoryTest, FolderWithOrWithoutSeparatorAndWithBackslashes) {
  MakeFile("one");
  MakeFolder("two");
  std::vector<std::string> expected = {".", "..", "one", "two"};
  std::string backslashed = folder_.Path();
  std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
  const std::string folders[] = {folder_.Path(), Bare(), backslashed};
  for (const std::string& folder : folders) {
    SCOPED_TRACE(folder);
    ASSERT_NE(0, OpenDirectoryListing(0, folder.c_str(), "*.*"));
    EXPECT_EQ(expected, Sorted(Names(Drain(0))));
  }
  // The pattern may carry folders of its own.
  ASSERT_TRUE(WriteWholeFile(folder_.Join("two" + Separator() + "inner.txt"), {}));
  ASSERT_NE(0, OpenDirectoryListing(0, Bare().c_str(), "two\\*.txt"));
  EXPECT_EQ(std::vector<std::string>({"inner.txt"}), Names(Drain(0)));
  CloseDirectoryListing(0);
}

TEST_F(DirectoryTest, MissingFoldersGiveNoListing) {
  EXPECT_EQ(0, OpenDirectoryListing(0, folder_.Join("missing").c_str(), "*.*"));
  EXPECT_EQ(0, OpenDirectoryListing(kAnyNumber, folder_.Join("missing").c_str(), ""));
  MakeFile("plain");
  EXPECT_EQ(0, OpenDirectoryListing(0, folder_.Join("plain").c_str(), "*.*"));
  EXPECT_EQ(0, NextEntry(0));
  EXPECT_EQ(kEntryNone, EntryKind(0));
  EXPECT_EQ(std::string(), EntryName(0).c_str());
  CloseDirectoryListing(0);
}

TEST_F(DirectoryTest, ReusingANumberEndsTheOldListing) {
  MakeFolder("a");
  MakeFolder("b");
  ASSERT_TRUE(WriteWholeFile(folder_.Join("a" + Separator() + "fromA"), {}));
  ASSERT_TRUE(WriteWholeFile(folder_.Join("b" + Separator() + "fromB"), {}));
  ASSERT_NE(0, OpenDirectoryListing(5, folder_.Join("a").c_str(), "from*"));
  ASSERT_NE(0, OpenDirectoryListing(5, folder_.Join("b").c_str(), "from*"));
  EXPECT_EQ(std::vector<std::string>({"fromB"}), Names(Drain(5)));
  // A failed opening under the number leaves it free.
  EXPECT_EQ(0, OpenDirectoryListing(5, folder_.Join("missing").c_str(), ""));
  EXPECT_EQ(0, NextEntry(5));
  CloseDirectoryListing(5);
  CloseDirectoryListing(5);
}

TEST_F(DirectoryTest, AnyNumberListingsRunSideBySide) {
  MakeFolder("a");
  MakeFolder("b");
  for (int i = 0; i < 3; i++) {
    ASSERT_TRUE(WriteWholeFile(folder_.Join("a" + Separator() + "x" + std::to_string(i)), {}));
    ASSERT_TRUE(WriteWholeFile(folder_.Join("b" + Separator() + "y" + std::to_string(i)), {}));
  }
  intptr_t first = OpenDirectoryListing(kAnyNumber, folder_.Join("a").c_str(), "x*");
  intptr_t second = OpenDirectoryListing(kAnyNumber, folder_.Join("b").c_str(), "y*");
  ASSERT_NE(0, first);
  ASSERT_NE(0, second);
  EXPECT_NE(first, second);
  EXPECT_GE(first, kNumberLimit);
  EXPECT_GE(second, kNumberLimit);
  std::vector<std::string> fromFirst, fromSecond;
  for (;;) {
    bool more = false;
    if (NextEntry(first)) {
      fromFirst.push_back(EntryName(first).c_str());
      more = true;
    }
    if (NextEntry(second)) {
      fromSecond.push_back(EntryName(second).c_str());
      more = true;
    }
    if (!more) break;
  }
  EXPECT_EQ(std::vector<std::string>({"x0", "x1", "x2"}), Sorted(fromFirst));
  EXPECT_EQ(std::vector<std::string>({"y0", "y1", "y2"}), Sorted(fromSecond));
  CloseDirectoryListing(first);
  EXPECT_EQ(0, NextEntry(first));
  CloseDirectoryListing(second);
}

TEST_F(DirectoryTest, NumbersNotInUseDoNothing) {
  const intptr_t ids[] = {0, 7, 99999, 100000, -2, kAnyNumber, 16777216, 2000000000, INTPTR_MIN};
  for (intptr_t id : ids) {
    SCOPED_TRACE("id " + std::to_string(static_cast<long long>(id)));
    EXPECT_EQ(0, NextEntry(id));
    EXPECT_EQ(kEntryNone, EntryKind(id));
    EXPECT_EQ(std::string(), EntryName(id).c_str());
    CloseDirectoryListing(id);
  }
  MakeFile("f");
  const intptr_t refused[] = {100000, -2, 2000000000, INTPTR_MAX};
  for (intptr_t id : refused) EXPECT_EQ(0, OpenDirectoryListing(id, folder_.Path().c_str(), ""));
  ASSERT_NE(0, OpenDirectoryListing(kNumberLimit - 1, folder_.Path().c_str(), "f"));
  EXPECT_EQ(1, NextEntry(kNumberLimit - 1));
  CloseDirectoryListing(kNumberLimit - 1);
}

TEST_F(DirectoryTest, SearchPathsBeyond260CharactersFailAndAreNeverCut) {
  // folder + name = 259 characters: the name is its own pattern. One more
  // character must fail rather than find the shorter name.
  size_t length = 259 - folder_.Path().size();
  ASSERT_LT(length, 250u);
  std::string name(length, 'n');
  MakeFile(name);
  intptr_t found = OpenDirectoryListing(0, folder_.Path().c_str(), name.c_str());
  ASSERT_NE(0, found);
  EXPECT_EQ(std::vector<std::string>({name}), Names(Drain(0)));
  // Without the final separator the listing adds one: still 259.
  ASSERT_NE(0, OpenDirectoryListing(0, Bare().c_str(), name.c_str()));
  EXPECT_EQ(std::vector<std::string>({name}), Names(Drain(0)));
  CloseDirectoryListing(0);

  EXPECT_EQ(0, OpenDirectoryListing(0, folder_.Path().c_str(), (name + "n").c_str()));
  EXPECT_EQ(0, OpenDirectoryListing(0, folder_.Path().c_str(), (name + "*").c_str()));
  EXPECT_EQ(0, OpenDirectoryListing(kAnyNumber, Bare().c_str(), (name + "?").c_str()));
  EXPECT_EQ(0, NextEntry(0));

  // The default pattern counts too: folder + separator + "*.*".
  std::string longFolder = folder_.Path() + std::string(259 - 4 - folder_.Path().size(), 'd');
  ASSERT_EQ(255u, longFolder.size());
  bool made = test_support::MakeFolder(longFolder);
#ifndef _WIN32
  ASSERT_TRUE(made);
#endif
  if (made) {
    ASSERT_NE(0, OpenDirectoryListing(0, longFolder.c_str(), ""));
    EXPECT_EQ(std::vector<std::string>({".", ".."}), Sorted(Names(Drain(0))));
    CloseDirectoryListing(0);
  }
  EXPECT_EQ(0, OpenDirectoryListing(0, (longFolder + "d").c_str(), ""));
  EXPECT_EQ(0, OpenDirectoryListing(0, (longFolder + std::string(60, 'd')).c_str(), "*.*"));
  EXPECT_EQ(0, OpenDirectoryListing(0, folder_.Path().c_str(), std::string(300, '*').c_str()));
}

}  // namespace
