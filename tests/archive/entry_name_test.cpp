// The name rules: which stored names stay below the destination, which the archiver may store,
// and the patterns that leave items out.
#include <gtest/gtest.h>

#include <utility>

#include "archive/entry_name.h"
#include "archive/name_pattern.h"

namespace {

TEST(EntryNameTest, OnlyNamesThatStayBelowTheDestinationAreSafe) {
  const std::pair<const char*, int> cases[] = {
      // names cleaned and without a drive prefix
      {"a.txt", 1},       {"sub\\dir\\a.txt", 1},
      {"sub\\", 1},       {"", 1},
      {".\\a.txt", 1},    {"a..b.txt", 1},
      {"..a", 1},         {"..", 0},
      {"sub\\..", 0},     {"sub\\..\\..\\evil", 0},
      {"...\\evil", 0},   {". .\\evil", 0},
      {".. \\evil", 0},   {"\\abs", 0},
      {"\\\\srv\\x", 0},  {"C:x", 0},
      {"sub\\b:c", 0},    {"a.txt:hidden", 0},
      {"NUL", 0},         {"sub\\con.txt", 0},
      {"com1", 0},        {"LPT9.log", 0},
      {"aux \\x", 0},     {"CONOUT$", 0},
      {"com0", 1},        {"console.txt", 1},
      {"nul2", 1},        {"x.nul", 1},
      {"COM\xB9", 0},     {"lpt\xB2.txt", 0},
      {"COM\xC2\xB3", 0}, {"LPT\xB9x", 1},
      {"COM\xB4", 1},     {"COM\xC2\xB4", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, IsSafeEntryName(c.first)) << c.first;
  EXPECT_EQ(0, IsSafeEntryName(Text("a\0b.txt", 7))) << "a zero byte would cut the name";
}

TEST(EntryNameTest, OnlyNamesWindowsCanHoldArePortable) {
  for (const char* bad :
       {"a\\b", "c:", "*", "?", "\"", "<", ">", "|", "x\x01", "\x1f", "dot.", "space "})
    EXPECT_EQ(0, IsPortableNamePart(bad)) << bad;
  EXPECT_EQ(1, IsPortableNamePart("plain \xE9t\xE9.txt"));
  EXPECT_EQ(0, IsPortableNamePart("nul.txt")) << "the stub would refuse a device name";
}

TEST(EntryNameTest, ExclusionPatternsMatchWholeTextsWithoutTheDosRules) {
  const struct {
    const char* text;
    const char* pattern;
    int crossFolders, matched;
  } cases[] = {
      {"Makefile", "*file", 0, 1},   // no dot is added to a name without one
      {"Makefile", "*.*", 0, 0},     //
      {"a.b.txt", "*.txt", 0, 1},    // "*" gives back what a later part needs
      {"aaab", "a*a*b", 0, 1},       //
      {"ab", "a*b*", 0, 1},          // "*" takes nothing too
      {"abc", "a?", 0, 0},           // the whole text, not a prefix
      {"sub/x.o", "*.o", 0, 0},      // a name's "*" stops at "/"
      {"sub/x.o", "*.o", 1, 1},      // a path's does not
      {"sub/deep/x.o", "sub/*", 1, 1},
      {"sub/deep/x.o", "sub/?/x.o", 1, 0},
      {"caf\xC3\xA9", "caf?", 0, 1},  // "?" takes one UTF-8 character whole
      {"caf\xC3\xA9", "caf??", 0, 0},
      {"caf\xC3\xA9", "caf\xC3\xA9", 0, 1},
      {"x.log", "*.tmp|*.log", 0, 1},  // alternatives
      {"x.log", "|", 0, 0},
      {"X.LOG", "*.log", 0, 0},  // the caller folds both sides
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.matched, MatchPathPattern(c.text, c.pattern, c.crossFolders))
        << c.text << " against " << c.pattern;
}

}  // namespace
