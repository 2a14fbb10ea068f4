// Tests of texts and calendar dates: Text's value semantics, the edges of
// RightPart, FileNamePart, DecimalText and IntegerValue, DateValue over every
// day it can hold, and FormatDateText.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "runtime/date.h"
#include "runtime/text.h"

namespace {

std::string S(const Text& t) { return std::string(t.c_str(), static_cast<size_t>(t.Length())); }
std::vector<int> Fields(int32_t v) {
  return {YearOf(v), MonthOf(v), DayOf(v), HourOf(v), MinuteOf(v), SecondOf(v)};
}

// Equality is byte for byte (past a NUL too) and the absent text is the
// empty one; a copy is independent; a text appended to itself survives its
// buffer moving as it grows.
TEST(TextTest, ValueSemantics) {
  EXPECT_TRUE(Text() == Text("") && Text(static_cast<const char*>(nullptr)) == Text(""));
  EXPECT_EQ(0, Text(nullptr, 5).Length() + Text("abc", -1).Length());
  for (const Text& other : {Text("ABC"), Text("abcd"), Text("ab"), Text("abc\0", 4)})
    EXPECT_FALSE(Text("abc") == other) << S(other);
  Text a("abc"), b(a);
  b += b;
  b.Append(b.c_str() + 1, 2);
  b.Append(nullptr, 4);
  EXPECT_EQ("abc|abcabcbc", S(a) + "|" + S(b));
  std::string expected;
  Text grown;
  for (int k = 0; k < 5000; k++) expected += static_cast<char>('a' + k % 26);
  for (char ch : expected) grown += ch;
  EXPECT_EQ(expected, std::string(grown.c_str())) << "every byte, and the terminating zero";
  Text f("abcdef");
  EXPECT_EQ("ab|ef|", S(f.Middle(-3, 2)) + "|" + S(f.Middle(4, 100)) + "|" + S(f.Middle(2, -1))) << "clipped";
}

// The plain copy holds every byte and its terminator; the empty text has none.
TEST(TextTest, CopyToCString) {
  char* copy = CopyToCString(Text("a\\b c"));
  ASSERT_NE(nullptr, copy);
  EXPECT_STREQ("a\\b c", copy);
  free(copy);
  EXPECT_EQ(nullptr, CopyToCString(Text()));
}

TEST(TextTest, RightPartAndFileNamePart) {
  const struct { int n; const char* expected; } rights[] = {
      {5, "abc"}, {3, "abc"}, {2, "bc"}, {0, ""}, {-1, ""}, {INT32_MIN, ""}, {INT32_MAX, "abc"}};
  for (const auto& r : rights) EXPECT_EQ(r.expected, S(RightPart("abc", r.n))) << "n = " << r.n;
  const struct { const char* path; const char* expected; } names[] = {
      {"C:\\dir\\sub/file.txt", "file.txt"}, {"C:/dir/sub\\file.txt", "file.txt"}, {"C:\\dir\\", ""},
      {"/", ""}, {"plain", "plain"}, {"", ""}, {"\"C:\\x\\a b.txt\" rest", "a b.txt"},
      {"\"C:\\x\\a.exe\" /flag", "a.exe"}, {"\"C:\\x\\a.exe", "a.exe"}, {"\"", ""}, {"\"C:\"", "C:"}};
  for (const auto& c : names) EXPECT_EQ(c.expected, S(FileNamePart(c.path))) << c.path;
}

// Only spaces and tabs are skipped; beyond 32 bits the count wraps.
TEST(TextTest, DecimalTextAndIntegerValue) {
  for (int32_t value : {0, -7, 10, INT32_MIN, INT32_MAX, -INT32_MAX, 1000000000}) {
    EXPECT_EQ(std::to_string(value), S(DecimalText(value)));
    EXPECT_EQ(value, IntegerValue(DecimalText(value))) << value;
  }
  const struct { const char* text; int32_t value; } integers[] = {
      {" 42abc", 42}, {"\t+5", 5}, {" \t \t12 34", 12}, {"", 0}, {"abc", 0}, {"-", 0}, {"- 5", 0},
      {"+-5", 0}, {"\n5", 0}, {"007", 7}, {"2147483648", INT32_MIN}, {"4294967297", 1},
      {"99999999999999999999", 1661992959}};  // 10^20 - 1 modulo 2^32
  for (const auto& c : integers) EXPECT_EQ(c.value, IntegerValue(c.text)) << "\"" << c.text << "\"";
}

TEST(DateTest, ValuesAndInvalidFields) {
  const struct { int y, mo, d, h, mi, s; int32_t expected; } cases[] = {
      {2006, 6, 7, 11, 32, 17, 1149679937}, {2038, 1, 19, 3, 14, 7, INT32_MAX}, {2038, 1, 19, 3, 14, 8, -1},
      {1969, 12, 31, 23, 59, 59, -1}, {2006, 2, 29, 0, 0, 0, -1}, {1900, 2, 29, 0, 0, 0, -1},
      {2000, 2, 30, 0, 0, 0, -1}, {2000, 4, 31, 0, 0, 0, -1}, {2000, 1, 32, 0, 0, 0, -1},
      {2000, 1, 0, 0, 0, 0, -1}, {2000, 0, 1, 0, 0, 0, -1}, {2000, 13, 1, 0, 0, 0, -1},
      {2000, 1, 1, 24, 0, 0, -1}, {2000, 1, 1, -1, 0, 0, -1}, {2000, 1, 1, 0, 60, 0, -1},
      {2000, 1, 1, 0, 0, 60, -1}, {0, 1, 1, 0, 0, 0, -1},
      {INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, -1},
      {INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, -1}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, DateValue(c.y, c.mo, c.d, c.h, c.mi, c.s))
        << c.y << "-" << c.mo << "-" << c.d << " " << c.h << ":" << c.mi << ":" << c.s;
  }
  for (int32_t v : {-1, INT32_MIN}) EXPECT_EQ(std::vector<int>(6, 0), Fields(v)) << v;
}

// Walks every day from 1970-01-01 to 2038-01-19 with a calendar of its own,
// so each date's value is its day count times 86,400 (plus the time).
TEST(DateTest, EveryDayComposesAndSplitsBack) {
  const int monthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int64_t dayNumber = 0;
  for (int year = 1970; year <= 2038; year++) {
    for (int month = 1; month <= 12; month++) {
      bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
      for (int day = 1; day <= monthDays[month - 1] + (month == 2 && leap); day++, dayNumber++) {
        bool beyond = year == 2038 && (month > 1 || day > 19);
        int32_t value = DateValue(year, month, day, 3, 14, 7);  // fits on the last day too
        ASSERT_EQ(beyond ? -1 : dayNumber * 86400, DateValue(year, month, day, 0, 0, 0))
            << year << "-" << month << "-" << day;
        if (beyond) continue;
        ASSERT_EQ(dayNumber * 86400 + 3 * 3600 + 14 * 60 + 7, value);
        ASSERT_EQ(std::vector<int>({year, month, day, 3, 14, 7}), Fields(value));
      }
    }
  }
}

// Tokens ignore case; anything else, a lone "%" included, is copied.
TEST(DateTest, FormatDateText) {
  const int32_t v = 1149679937;  // 2006-06-07 11:32:17
  const struct { const char* mask; int32_t value; const char* expected; } cases[] = {
      {"%yyyy-%mm-%dd %hh:%ii:%ss", v, "2006-06-07 11:32:17"}, {"%dd.%mm.%yy", v, "07.06.06"},
      {"%yyyy-%mm-%dd %hh:%ii:%ss", 0, "1970-01-01 00:00:00"},
      {"%yyyy-%mm-%dd %hh:%ii:%ss", -1, "0000-00-00 00:00:00"},
      {"%MM/%Dd %hHh%iIm%SS %YyyY", v, "06/07 11h32m17 2006"},
      {"100%", v, "100%"}, {"%x %y %m", v, "%x %y %m"}, {"%%yyyy", v, "%2006"}, {"%yyy", v, "06y"},
      {"%yyyyy", v, "2006y"}};
  for (const auto& c : cases)
    EXPECT_EQ(c.expected, S(FormatDateText(c.mask, c.value))) << "\"" << c.mask << "\" of " << c.value;
}

}  // namespace
