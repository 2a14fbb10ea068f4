// Directory listings: "." and "..", kinds, the POSIX order, folders written any way, long paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "runtime/directory.h"
#include "runtime/system.h"
#include "tests/runtime/test_support.h"

namespace {

using namespace test_support;
typedef std::vector<std::string> Names;

// Every entry of a listing, as "name", or "name/" for a folder; afterwards none is current.
Names Drain(intptr_t listing, bool sorted = true) {
  Names names;
  for (int guard = 0; guard < 10000 && NextEntry(listing); guard++)
    names.push_back(EntryName(listing).c_str() +
                    std::string(EntryKind(listing) == kEntryDirectory ? "/" : ""));
  if (sorted) std::sort(names.begin(), names.end());
  EXPECT_EQ(0, NextEntry(listing));
  EXPECT_EQ(kEntryNone, EntryKind(listing));
  EXPECT_TRUE(EntryName(listing).IsEmpty());
  return names;
}

class DirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    ASSERT_TRUE(folder_.Ok());
  }
  void TearDown() override { CloseAllListings(); }  // Windows removes no searched folder
  void Make(const Names& names) {                   // a name ending in "/" is made a folder
    for (const std::string& name : names) {
      std::string path = folder_.Join(name.substr(0, name.size() - (name.back() == '/')));
      ASSERT_TRUE(name.back() == '/' ? MakeFolder(path) : WriteWholeFile(path, PatternBytes(3)));
    }
  }
  TempFolder folder_;
};

#ifndef _WIN32
// "." and ".." first, then upper-cased bytes, ties by plain bytes ("!" before ".", "_" after "A").
TEST_F(DirectoryTest, PosixOrderIsDotsThenUpperCasedBytes) {
  const Names sorted = {"./", "../",  "!bang", "a",   "a.b", "ALPHA",  "Alpha",   "alpha",
                        "B",  "beta", "Mid/",  "Zed", "[x",  "_under", "\xC3\xA9"};
  Make(Names(sorted.rbegin(), sorted.rend() - 2));
  ASSERT_NE(0, OpenDirectoryListing(0, folder_.Path().c_str(), ""));
  EXPECT_EQ(sorted, Drain(0, false));
}
#endif

// "*.*" lists every entry, "." and ".." too, however the folder is written; nothing is current
// before the first. Like FindFirstFileA, a missing folder or a file gives no listing.
TEST_F(DirectoryTest, EveryEntryOfAFolderWrittenAnyWay) {
  Make({"a.txt", "B.TXT", "readme", "two/", "two/in.txt"});
  const Names all = {"../", "./", "B.TXT", "a.txt", "readme", "two/"};
  std::string bare = folder_.Path().substr(0, folder_.Path().size() - 1),
              backslashed = folder_.Path();
  std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
  for (const std::string& folder : {folder_.Path(), bare, backslashed}) {
    intptr_t listing = OpenDirectoryListing(kAnyNumber, folder.c_str(), "*.*");
    ASSERT_NE(0, listing) << folder;
    EXPECT_EQ(kEntryNone, EntryKind(listing));
    EXPECT_EQ(all, Drain(listing)) << folder;
    CloseDirectoryListing(listing);
  }
  EXPECT_EQ(0, OpenDirectoryListing(kAnyNumber, folder_.Join("missing").c_str(), "*.*"));
  EXPECT_EQ(0, OpenDirectoryListing(kAnyNumber, folder_.Join("a.txt").c_str(), "*.*"));
}

// folder + name one short of the capacity fits; one more fails rather than find the shorter
// name. The default pattern counts too: folder + separator + "*.*".
TEST_F(DirectoryTest, SearchPathsBeyondTheCapacityFailAndAreNeverCut) {
  std::string path = NestedPath(folder_.Path(), kPathCapacity - 1, 'd', 'n');
  size_t split = path.rfind(kPathSeparator) + 1;
  std::string deep = path.substr(0, split), name = path.substr(split);
  ASSERT_TRUE(test_support::WriteWholeFile(path, PatternBytes(3)));
  for (const std::string& folder : {deep, deep.substr(0, deep.size() - 1)}) {
    ASSERT_NE(0, OpenDirectoryListing(0, folder.c_str(), name.c_str())) << folder;
    EXPECT_EQ(Names({name}), Drain(0));
    for (const char* more : {"n", "*", "?"})
      EXPECT_EQ(0, OpenDirectoryListing(kAnyNumber, folder.c_str(), (name + more).c_str())) << more;
  }
  std::string longFolder = NestedPath(folder_.Path(), kPathCapacity - 5, 'e', 'e');
  // Windows makes no folder of more than 248 characters; there it is not tried.
  if (MakeFolder(longFolder) || kPathSeparator == '/') {
    ASSERT_NE(0, OpenDirectoryListing(0, longFolder.c_str(), ""));
    EXPECT_EQ(Names({"../", "./"}), Drain(0));
  }
  EXPECT_EQ(0, OpenDirectoryListing(0, (longFolder + "d").c_str(), ""));
  EXPECT_EQ(0, OpenDirectoryListing(0, folder_.Path().c_str(),
                                    std::string(kPathCapacity + 40, '*').c_str()));
}

}  // namespace
