// The rules that turn a stored entry name into a path below the destination:
// cleaning as the extractor always did, then the checks that keep every
// entry inside the destination. One table of hostile and harmless names.
#include <gtest/gtest.h>

#include <string>

#include "archive/entry_name.h"

namespace {

TEST(EntryNameTest, CleaningTrimsSpacesAndTurnsSlashes) {
  EXPECT_STREQ("name.txt", CleanEntryName(" name.txt ").c_str());
  EXPECT_STREQ("sub\\dir\\file.txt", CleanEntryName("sub/dir/file.txt").c_str());
  EXPECT_STREQ("\ttab.txt", CleanEntryName("\ttab.txt").c_str()) << "only 0x20 is trimmed";
  EXPECT_STREQ("", CleanEntryName("   ").c_str());
}

TEST(EntryNameTest, DrivePrefixIsDroppedUpToTheFirstColonBackslash) {
  EXPECT_STREQ("data\\a.txt", DropDrivePrefix("E:\\data\\a.txt").c_str());
  EXPECT_STREQ("x", DropDrivePrefix("sub\\C:\\x").c_str());
  EXPECT_STREQ("C:x.txt", DropDrivePrefix("C:x.txt").c_str()) << "no \":\\\", nothing dropped";
}

struct NameCase {
  const char* label;
  const char* name;  // cleaned and prefix-free, as the reader checks it
  int safe;
};

const NameCase kNameCases[] = {
    {"plain file", "a.txt", 1},
    {"nested file", "sub\\dir\\a.txt", 1},
    {"folder entry", "sub\\", 1},
    {"root entry", "", 1},
    {"single dot component", ".\\a.txt", 1},
    {"dots inside a name", "a..b.txt", 1},
    {"leading dots in a name", "..a", 1},
    {"parent at the start", "..\\evil.txt", 0},
    {"parent in the middle", "sub\\..\\..\\evil.txt", 0},
    {"parent at the end", "sub\\..", 0},
    {"parent alone", "..", 0},
    {"three dots", "...\\evil.txt", 0},
    {"parent with a trailing space", ".. \\evil.txt", 0},
    {"dots and spaces", ". .\\evil.txt", 0},
    {"absolute", "\\abs.txt", 0},
    {"UNC", "\\\\server\\share\\x.txt", 0},
    {"drive-relative", "C:x.txt", 0},
    {"colon after the first component", "sub\\b:c.txt", 0},
    {"stream name", "a.txt:hidden", 0},
};

TEST(EntryNameTest, OnlyNamesThatStayBelowTheDestinationAreSafe) {
  for (const NameCase& c : kNameCases) {
    EXPECT_EQ(c.safe, IsSafeEntryName(c.name)) << c.label << ": \"" << c.name << "\"";
  }
  EXPECT_EQ(0, IsSafeEntryName(Text("a\0b.txt", 7))) << "a zero byte would cut the name";
}

TEST(EntryNameTest, FolderAndFileParts) {
  EXPECT_STREQ("sub\\dir\\", FolderPartOf("sub\\dir\\file.txt").c_str());
  EXPECT_STREQ("file.txt", FilePartOf("sub\\dir\\file.txt").c_str());
  EXPECT_STREQ("", FolderPartOf("file.txt").c_str());
  EXPECT_STREQ("file.txt", FilePartOf("file.txt").c_str());
  EXPECT_STREQ("", FilePartOf("sub\\").c_str());
}

}  // namespace
