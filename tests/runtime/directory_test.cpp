// Directory listings: "." and "..", kinds, the POSIX order, folders written any way, long paths;
// held folders, listed and entered through what is held.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <map>
#include <string>

#include "runtime/directory.h"
#include "runtime/filesystem.h"
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

// A held folder lists as its path does, each entry with what its name itself is, a link not
// followed, and the identity of that; an item held below it is reached through the folder held.
// A folder swapped for a link after it was held is still the folder listed and entered.
TEST_F(DirectoryTest, HeldFoldersAreListedAndEnteredThroughWhatIsHeld) {
  Make({"a.txt", "sub/", "sub/in.txt"});
  TempFolder elsewhere;
  ASSERT_TRUE(WriteWholeFile(elsewhere.Join("secret"), PatternBytes(5)));
  std::map<std::string, int> kinds = {
      {".", kPathFolder}, {"..", kPathFolder}, {"a.txt", kPathFile}, {"sub", kPathFolder}};
#ifndef _WIN32
  ASSERT_EQ(0, symlink("sub", folder_.Join("link").c_str()));
  ASSERT_EQ(0, symlink("nowhere", folder_.Join("dangling").c_str()));
  ASSERT_EQ(0, mkfifo(folder_.Join("fifo").c_str(), 0600));
  kinds.insert({{"link", kPathLink}, {"dangling", kPathLink}, {"fifo", kPathSpecial}});
#endif
  intptr_t held = HoldPath(folder_.Path().c_str());
  ASSERT_NE(0, held);
  EXPECT_EQ(kPathFolder, HeldItemKind(held));
  EXPECT_STREQ(ResolvedPath(folder_.Path().c_str()).c_str(), HeldItemPath(held).c_str());
  ASSERT_NE(0, OpenDirectoryListing(1, folder_.Path().c_str(), "*.*"));
  Names byPath = Drain(1);
  intptr_t listing = OpenHeldFolderListing(kAnyNumber, held);
  ASSERT_NE(0, listing);
  EXPECT_EQ(kPathNothing, EntryOwnKind(listing)) << "no entry before the first";
  Names byHolding;
  while (NextEntry(listing)) {
    std::string name = EntryName(listing).c_str();
    byHolding.push_back(name + (EntryKind(listing) == kEntryDirectory ? "/" : ""));
    EXPECT_EQ(kinds[name], EntryOwnKind(listing)) << name;
    PathIdentity listed, byName;
    ASSERT_EQ(1, EntryIdentity(listing, &listed)) << name;
    if (kinds[name] != kPathLink && GetPathIdentity(folder_.Join(name).c_str(), &byName)) {
      EXPECT_TRUE(SameIdentity(listed, byName)) << name;
    }
  }
  CloseDirectoryListing(listing);
  std::sort(byHolding.begin(), byHolding.end());
  EXPECT_EQ(byPath, byHolding);

  const struct {
    const char* name;
    int follow;
    int kind;  // of the item held; kPathNothing: none
  } rows[] = {
      {"a.txt", 0, kPathFile},   {"sub", 0, kPathFolder},         {"missing", 0, kPathNothing},
      {"", 0, kPathNothing},     {"sub/in.txt", 1, kPathNothing},  // one name, never a path
#ifndef _WIN32
      {"link", 0, kPathLink},    {"link", 1, kPathFolder},        {"dangling", 1, kPathNothing},
      {"fifo", 0, kPathSpecial},
#endif
  };
  for (const auto& row : rows) {
    intptr_t item = HoldItemInFolder(held, row.name, row.follow);
    EXPECT_EQ(row.kind, HeldItemKind(item)) << row.name << " followed " << row.follow;
    EXPECT_EQ(row.kind != kPathNothing, item != 0) << row.name;
    ReleaseHeldItem(item);
  }
  intptr_t sub = HoldItemInFolder(held, "sub", 0);
  PathIdentity subIdentity, byName;
  ASSERT_EQ(1, HeldItemIdentity(sub, &subIdentity));
  ASSERT_TRUE(GetPathIdentity(folder_.Join("sub").c_str(), &byName));
  EXPECT_TRUE(SameIdentity(subIdentity, byName));
#ifndef _WIN32
  // The folder moves away and a link to elsewhere takes its name: what is held stays the folder.
  ASSERT_EQ(0, rename(folder_.Join("sub").c_str(), folder_.Join("moved").c_str()));
  ASSERT_EQ(0, symlink(elsewhere.Path().c_str(), folder_.Join("sub").c_str()));
  ASSERT_NE(0, OpenHeldFolderListing(2, sub));
  EXPECT_EQ(Names({"../", "./", "in.txt"}), Drain(2));
  EXPECT_STREQ(ResolvedPath(folder_.Join("moved").c_str()).c_str(), HeldItemPath(sub).c_str());
  intptr_t inside = HoldItemInFolder(sub, "in.txt", 0);
  EXPECT_EQ(kPathFile, HeldItemKind(inside));
  ReleaseHeldItem(inside);
  EXPECT_EQ(0, HoldItemInFolder(sub, "secret", 1)) << "nothing of elsewhere";
  intptr_t swapped = HoldItemInFolder(held, "sub", 0);
  EXPECT_EQ(kPathLink, HeldItemKind(swapped)) << "not followed unasked";
  ReleaseHeldItem(swapped);
#endif
  ReleaseHeldItem(sub);
  ReleaseHeldItem(held);
  EXPECT_EQ(0, OpenHeldFolderListing(3, 0));
  EXPECT_EQ(kPathNothing, HeldItemKind(0));
  EXPECT_STREQ("", HeldItemPath(0).c_str());
}

}  // namespace
