// The archiver's name patterns: "*", "?", alternatives and case, as a table.
#include <gtest/gtest.h>

#include "archive/name_pattern.h"

namespace {

TEST(MatchNamePatternTest, Table) {
  const struct {
    const char *text, *pattern;
    int expected;
  } cases[] = {
      {"bc", "*bc", 0},  // "*" takes at least one character before a literal
      {"abc", "abc*", 1},    {"Readme", "readme", 1},
      {"", "*", 1},          {"TXT", "txt", 1},
      {"doc", "txt", 0},     {"doc", "txt|doc", 0},  // a text without "." gets one
      {"doc", "txt|do*", 1}, {"a", "?", 0},
      {"a", "?*", 1},        {"a.b", "a?b", 1},
      {"", "?", 1},  // the empty text becomes "."
      {"abc", "a*c", 0},     {"abc", "a*c*", 1},
      {"x", "", 0},          {"\xC9t\xC9", "\xE9t\xE9", 1},  // 0xC0..0xDE are lower-cased too
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, MatchNamePattern(c.text, c.pattern))
        << "text \"" << c.text << "\" pattern \"" << c.pattern << "\"";
  }
}

}  // namespace
