// The name rules: which stored names stay below the destination, which the archiver may store.
#include <gtest/gtest.h>

#include <utility>

#include "archive/entry_name.h"

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

}  // namespace
