// Tests of calendar dates: validity rules, the ends of the 32-bit range, a
// day-by-day walk over every date the count can hold, and FormatDateText.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdint.h>

#include <string>

#include "runtime/date.h"

namespace {

std::string Format(const char* mask, int32_t value) {
  Text t = FormatDateText(mask, value);
  return std::string(t.c_str(), static_cast<size_t>(t.Length()));
}

TEST(DateTest, KnownValues) {
  EXPECT_EQ(0, DateValue(1970, 1, 1, 0, 0, 0));
  EXPECT_EQ(1149679937, DateValue(2006, 6, 7, 11, 32, 17));
  EXPECT_EQ(86399, DateValue(1970, 1, 1, 23, 59, 59));
  EXPECT_EQ(951782400, DateValue(2000, 2, 29, 0, 0, 0));
  EXPECT_EQ(946684799, DateValue(1999, 12, 31, 23, 59, 59));
}

TEST(DateTest, InvalidFieldsGiveMinusOne) {
  EXPECT_EQ(-1, DateValue(2006, 2, 29, 0, 0, 0));
  EXPECT_NE(-1, DateValue(2000, 2, 29, 0, 0, 0));
  EXPECT_NE(-1, DateValue(2004, 2, 29, 0, 0, 0));
  EXPECT_EQ(-1, DateValue(1900, 2, 29, 0, 0, 0));
  EXPECT_EQ(-1, DateValue(2000, 2, 30, 0, 0, 0));
  EXPECT_EQ(-1, DateValue(2000, 4, 31, 0, 0, 0));
  EXPECT_EQ(-1, DateValue(2000, 6, 31, 0, 0, 0));
  EXPECT_EQ(-1, DateValue(2000, 9, 31, 0, 0, 0));
  EXPECT_EQ(-1, DateValue(2000, 11, 31, 0, 0, 0));
  EXPECT_NE(-1, DateValue(2000, 12, 31, 0, 0, 0));
  EXPECT_EQ(-1, DateValue(2000, 1, 32, 0, 0, 0));
  EXPECT_EQ(-1, DateValue(2000, 1, 0, 0, 0, 0));
  EXPECT_EQ(-1, DateValue(2000, 0, 1, 0, 0, 0));
  EXPECT_EQ(-1, DateValue(2000, 13, 1, 0, 0, 0));
  EXPECT_EQ(-1, DateValue(2000, 1, 1, 24, 0, 0));
  EXPECT_EQ(-1, DateValue(2000, 1, 1, -1, 0, 0));
  EXPECT_EQ(-1, DateValue(2000, 1, 1, 0, 60, 0));
  EXPECT_EQ(-1, DateValue(2000, 1, 1, 0, -1, 0));
  EXPECT_EQ(-1, DateValue(2000, 1, 1, 0, 0, 60));
  EXPECT_EQ(-1, DateValue(2000, 1, 1, 0, 0, -1));
  EXPECT_EQ(-1, DateValue(0, 1, 1, 0, 0, 0));
  EXPECT_EQ(-1, DateValue(-5, 1, 1, 0, 0, 0));
  EXPECT_EQ(-1, DateValue(INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN));
  EXPECT_EQ(-1, DateValue(INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX));
}

TEST(DateTest, EndsOfTheRange) {
  EXPECT_EQ(-1, DateValue(1969, 12, 31, 23, 59, 59));
  EXPECT_EQ(-1, DateValue(1601, 1, 1, 0, 0, 0));
  EXPECT_EQ(INT32_MAX, DateValue(2038, 1, 19, 3, 14, 7));
  EXPECT_EQ(-1, DateValue(2038, 1, 19, 3, 14, 8));
  EXPECT_EQ(-1, DateValue(2038, 1, 20, 0, 0, 0));
  EXPECT_EQ(-1, DateValue(2038, 12, 31, 23, 59, 59));
  EXPECT_EQ(-1, DateValue(2039, 1, 1, 0, 0, 0));
  EXPECT_EQ(-1, DateValue(INT_MAX, 1, 1, 0, 0, 0));
  EXPECT_EQ(2038, YearOf(INT32_MAX));
  EXPECT_EQ(1, MonthOf(INT32_MAX));
  EXPECT_EQ(19, DayOf(INT32_MAX));
  EXPECT_EQ(3, HourOf(INT32_MAX));
  EXPECT_EQ(14, MinuteOf(INT32_MAX));
  EXPECT_EQ(7, SecondOf(INT32_MAX));
}

TEST(DateTest, FieldsOfAValue) {
  const int32_t v = 1149679937;
  EXPECT_EQ(2006, YearOf(v));
  EXPECT_EQ(6, MonthOf(v));
  EXPECT_EQ(7, DayOf(v));
  EXPECT_EQ(11, HourOf(v));
  EXPECT_EQ(32, MinuteOf(v));
  EXPECT_EQ(17, SecondOf(v));
  EXPECT_EQ(1970, YearOf(0));
  EXPECT_EQ(1, MonthOf(0));
  EXPECT_EQ(1, DayOf(0));
}

TEST(DateTest, NegativeValuesGiveZeroFields) {
  for (int32_t v : {-1, -86400, INT32_MIN}) {
    EXPECT_EQ(0, YearOf(v));
    EXPECT_EQ(0, MonthOf(v));
    EXPECT_EQ(0, DayOf(v));
    EXPECT_EQ(0, HourOf(v));
    EXPECT_EQ(0, MinuteOf(v));
    EXPECT_EQ(0, SecondOf(v));
  }
}

// Walks every day from 1970-01-01 to 2038-01-19 with a plain calendar of its
// own, so each date's value is its day count times 86,400.
TEST(DateTest, EveryDayComposesAndSplitsBack) {
  const int monthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int64_t dayNumber = 0;
  for (int year = 1970; year <= 2038; year++) {
    bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    for (int month = 1; month <= 12; month++) {
      int days = monthDays[month - 1] + (month == 2 && leap ? 1 : 0);
      for (int day = 1; day <= days; day++, dayNumber++) {
        if (year == 2038 && (month > 1 || day > 19)) {
          ASSERT_EQ(-1, DateValue(year, month, day, 0, 0, 0)) << year << "-" << month << "-" << day;
          continue;
        }
        int32_t expected = static_cast<int32_t>(dayNumber * 86400);
        ASSERT_EQ(expected, DateValue(year, month, day, 0, 0, 0)) << year << "-" << month << "-" << day;
        int32_t later = DateValue(year, month, day, 3, 14, 7);  // fits on the last day too
        ASSERT_EQ(expected + 3 * 3600 + 14 * 60 + 7, later);
        ASSERT_EQ(year, YearOf(later));
        ASSERT_EQ(month, MonthOf(later));
        ASSERT_EQ(day, DayOf(later));
        ASSERT_EQ(3, HourOf(later));
        ASSERT_EQ(14, MinuteOf(later));
        ASSERT_EQ(7, SecondOf(later));
      }
    }
  }
}

TEST(DateTest, FormatTokens) {
  const int32_t v = 1149679937;  // 2006-06-07 11:32:17
  EXPECT_EQ("2006", Format("%yyyy", v));
  EXPECT_EQ("06", Format("%mm", v));
  EXPECT_EQ("06", Format("%yy", v));
  EXPECT_EQ("2006-06-07 11:32:17", Format("%yyyy-%mm-%dd %hh:%ii:%ss", v));
  EXPECT_EQ("07.06.06", Format("%dd.%mm.%yy", v));
  EXPECT_EQ("1970-01-01 00:00:00", Format("%yyyy-%mm-%dd %hh:%ii:%ss", 0));
  EXPECT_EQ("05", Format("%ss", 5));
}

TEST(DateTest, FormatIgnoresCase) {
  const int32_t v = 1149679937;
  EXPECT_EQ("2006", Format("%YYYY", v));
  EXPECT_EQ("2006", Format("%yYyY", v));
  EXPECT_EQ("06/07 11h32m17", Format("%MM/%Dd %hHh%iIm%SS", v));
}

TEST(DateTest, FormatCopiesEverythingElse) {
  const int32_t v = 1149679937;
  EXPECT_EQ("", Format("", v));
  EXPECT_EQ("plain text", Format("plain text", v));
  EXPECT_EQ("100%", Format("100%", v));
  EXPECT_EQ("%", Format("%", v));
  EXPECT_EQ("%x %y %m", Format("%x %y %m", v));
  EXPECT_EQ("%2006", Format("%%yyyy", v));
  EXPECT_EQ("06y", Format("%yyy", v));  // not "%yyyy": the short year, then "y"
  EXPECT_EQ("2006y", Format("%yyyyy", v));
  EXPECT_EQ("yyyy", Format("yyyy", v));
}

TEST(DateTest, FormatOfNegativeValueUsesZeroFields) {
  EXPECT_EQ("0000-00-00 00:00:00", Format("%yyyy-%mm-%dd %hh:%ii:%ss", -1));
}

}  // namespace
