// Texts and dates as the programs use them: Text, its parts and numbers, DateValue over every
// day it holds, FormatDateText; names in UTF-8 and Windows-1252; the paths entries land under.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "runtime/date.h"
#include "runtime/file.h"
#include "runtime/filesystem.h"
#include "runtime/name_encoding.h"
#include "runtime/text.h"

namespace {

std::string S(const Text& t) { return std::string(t.c_str(), static_cast<size_t>(t.Length())); }
std::vector<int> Fields(int32_t v) {
  return {YearOf(v), MonthOf(v), DayOf(v), HourOf(v), MinuteOf(v), SecondOf(v)};
}

// Equality byte for byte (past a NUL too); copies are independent; self-append survives growth.
TEST(TextTest, ValueSemantics) {
  EXPECT_TRUE(Text() == Text(""));
  EXPECT_TRUE(Text(static_cast<const char*>(nullptr)) == Text(""));
  EXPECT_EQ(0, Text(nullptr, 5).Length());
  EXPECT_EQ(0, Text("abc", -1).Length());
  for (const Text& other : {Text("ABC"), Text("abcd"), Text("ab"), Text("abc\0", 4)})
    EXPECT_FALSE(Text("abc") == other) << S(other);
  Text a("abc"), b(a);
  b += b;
  b.Append(b.c_str() + 1, 2);
  b.Append(nullptr, 4);
  EXPECT_EQ("abc", S(a));
  EXPECT_EQ("abcabcbc", S(b));
  std::string expected;
  Text grown;
  for (int k = 0; k < 5000; k++) expected += static_cast<char>('a' + k % 26);
  for (char ch : expected) grown += ch;
  EXPECT_EQ(expected, std::string(grown.c_str())) << "every byte, and the terminating zero";
  Text f("abcdef");
  EXPECT_EQ("ab", S(f.Middle(-3, 2))) << "clipped";
  EXPECT_EQ("ef", S(f.Middle(4, 100))) << "clipped";
  EXPECT_EQ("", S(f.Middle(2, -1))) << "clipped";
  char* copy = CopyToCString(Text("a\\b c"));  // every byte and the terminator
  ASSERT_NE(nullptr, copy);
  EXPECT_STREQ("a\\b c", copy);
  free(copy);
  EXPECT_EQ(nullptr, CopyToCString(Text())) << "none for the empty text";
}

// The last character of a folder; the file name of a path with either separator.
TEST(TextTest, RightPartAndFileNamePart) {
  EXPECT_EQ("\\", S(RightPart("C:\\data\\", 1)));
  EXPECT_EQ("", S(RightPart("", 1)));
  EXPECT_EQ("abc", S(RightPart("abc", 5)));
  const struct {
    const char* path;
    const char* expected;
  } names[] = {{"C:\\dir\\sub/file.txt", "file.txt"},
               {"C:/dir/sub\\file.txt", "file.txt"},
               {"C:\\dir\\", ""},
               {"/", ""},
               {"plain", "plain"},
               {"", ""}};
  for (const auto& c : names) EXPECT_EQ(c.expected, S(FileNamePart(c.path))) << c.path;
}

// IntegerValue reads back what DecimalText and FormatDateText write: leading zeros, no digits.
TEST(TextTest, DecimalTextAndIntegerValue) {
  for (int32_t value : {0, -7, 10, INT32_MIN, INT32_MAX, -INT32_MAX, 1000000000}) {
    EXPECT_EQ(std::to_string(value), S(DecimalText(value)));
    EXPECT_EQ(value, IntegerValue(DecimalText(value))) << value;
  }
  for (const char* zeros : {"0000", "00", ""}) EXPECT_EQ(0, IntegerValue(zeros)) << zeros;
  EXPECT_EQ(7, IntegerValue("07"));
  EXPECT_EQ(2006, IntegerValue("2006"));
}

// The range is 1970-01-01 00:00:00 to 2038-01-19 03:14:07; no value for a time beyond it.
TEST(DateTest, ValuesBeyondTheRangeAreNone) {
  EXPECT_EQ(-1, DateValue(2038, 1, 19, 3, 14, 8));
  EXPECT_EQ(-1, DateValue(1969, 12, 31, 23, 59, 59));
  EXPECT_EQ(-1, DateValue(2006, 2, 29, 0, 0, 0)) << "no leap day";
  EXPECT_EQ(-1, DateValue(INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN));
  for (int32_t v : {-1, INT32_MIN}) EXPECT_EQ(std::vector<int>(6, 0), Fields(v)) << v;
}

// Every day from 1970-01-01 to 2038-01-19 by a calendar of its own: day count times 86,400.
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

// The tokens the archiver asks for, at a value, the first second and none.
TEST(DateTest, FormatDateText) {
  const char* mask = "%yyyy-%mm-%dd %hh:%ii:%ss";
  EXPECT_EQ("2006-06-07 11:32:17", S(FormatDateText(mask, 1149679937)));
  EXPECT_EQ("1970-01-01 00:00:00", S(FormatDateText(mask, 0)));
  EXPECT_EQ("0000-00-00 00:00:00", S(FormatDateText(mask, -1)));
}

// Names as archives carry them: UTF-8 or not, Windows-1252 decoded, upper-cased as Windows does.
TEST(NameEncodingTest, Utf8Windows1252AndCase) {
  const struct {
    const char* name;
    int utf8;
    const char* fromWindows1252;  // the name read as Windows-1252, in UTF-8
    const char* upper;
  } rows[] = {
      {"plain.txt", 1, "plain.txt", "PLAIN.TXT"},
      {"caf\xC3\xA9", 1, "caf\xC3\x83\xC2\xA9", "CAF\xC3\x89"},
      {"R\xE9sum\xE9", 0, "R\xC3\xA9sum\xC3\xA9", "R\xE9SUM\xE9"},  // not UTF-8: bytes stay
      {"\x80\x81\x9F", 0, "\xE2\x82\xAC\xC2\x81\xC5\xB8",
       "\x80\x81\x9F"},  // euro, undefined, Y-diaeresis
      {"\xC3\xBF \xCF\x82 \xD0\xB6 \xC4\x81", 1, nullptr, "\xC5\xB8 \xCE\xA3 \xD0\x96 \xC4\x80"},
      {"\xE6\x97\xA5\xF0\x9F\x98\x80", 1, nullptr, "\xE6\x97\xA5\xF0\x9F\x98\x80"},  // no case
      {"\xC0\x80", 0, nullptr, "\xC0\x80"},                                          // overlong
      {"\xED\xA0\x80", 0, nullptr, "\xED\xA0\x80"},                                  // a surrogate
      {"\xF4\x90\x80\x80", 0, nullptr, nullptr},  // past U+10FFFF
      {"\xE6\x97", 0, nullptr, nullptr},          // cut short
      {"\x80x", 0, nullptr, nullptr},             // a stray continuation byte
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.utf8, IsUtf8Text(row.name)) << row.name;
    if (row.fromWindows1252) {
      EXPECT_EQ(row.fromWindows1252, S(Windows1252ToUtf8(row.name)));
    }
    if (row.upper) {
      EXPECT_EQ(row.upper, S(UpperCasedName(row.name)));
    }
  }
  EXPECT_EQ("a\\x1b[2J\\x0a\\x7f", S(PrintableName("a\x1b[2J\n\x7f")));
  // C1 controls (CSI, OSC) in UTF-8 and a byte that is no UTF-8; other letters stay.
  EXPECT_EQ("\\xc2\\x9b2J\\xc2\\x9d0;t\\x9b caf\xC3\xA9",
            S(PrintableName("\xC2\x9B" "2J\xC2\x9D" "0;t\x9B caf\xC3\xA9")));
}

// Where an entry lands: on Windows a flagged or long name takes "\\?\" and the full UTF-8 path
// without "." components or trailing dots and spaces; an ANSI name that fits takes the ANSI path.
// On POSIX a path fits up to the capacity. (Past every limit, and the names: the reader's tests.)
TEST(LandingPathTest, NamesAndTheExtendedPathRule) {
  Text base;
#ifdef _WIN32
  const struct {
    const char* folder;
    const char* relative;
    int utf8;
    const char* path;
    const char* base;
  } rows[] = {
      {"C:\\out\\", "sub\\a.txt", 0, "C:\\out\\sub\\a.txt", "C:\\out\\"},
      {"C:\\out\\", "R\xE9sum\xE9.txt", 0, "C:\\out\\R\xE9sum\xE9.txt", "C:\\out\\"},
      {"C:\\out\\", "caf\xC3\xA9.txt", 1, "\\\\?\\C:\\out\\caf\xC3\xA9.txt", "\\\\?\\C:\\out\\"},
      {"C:\\out\\x\\..\\", ".\\a. \\b..\\c.txt", 1, "\\\\?\\C:\\out\\a\\b\\c.txt",
       "\\\\?\\C:\\out\\"},
      {"\\\\srv\\share\\", "d\\", 1, "\\\\?\\UNC\\srv\\share\\d\\", "\\\\?\\UNC\\srv\\share\\"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.path, S(LandingPath(row.folder, row.relative, row.utf8, &base))) << row.relative;
    EXPECT_EQ(row.base, S(base));
  }
  // An ANSI name too long for the ANSI functions goes the extended way.
  std::string longName(300, 'n');
  EXPECT_EQ("\\\\?\\C:\\out\\" + longName, S(LandingPath("C:\\out\\", longName.c_str(), 0, &base)));
#else
  std::string fits(kPathCapacity - 6, 'n');
  EXPECT_EQ("/out/" + fits, S(LandingPath("/out/", fits.c_str(), 1, &base)));
  EXPECT_EQ("", S(LandingPath("/out/", (fits + "n").c_str(), 1, &base))) << "past 4,095 bytes";
#endif
}

}  // namespace
