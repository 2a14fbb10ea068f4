// Calendar dates as signed 32-bit counts of seconds since 1970-01-01 00:00:00
// on the local wall clock: composing, taking apart and formatting. Pure
// arithmetic on the proleptic Gregorian calendar; no clock or time zone.
#include "runtime/date.h"

namespace {

const int kFirstYear = 1970;
// The last year that a signed 32-bit count of seconds reaches (2038-01-19).
const int kLastYear = 2038;
// 32-bit arithmetic throughout, except the final sum of DateValue, keeps the
// 32-bit programs free of 64-bit division helpers.
const int32_t kSecondsPerDay = 86400;
const int32_t kSecondsPerHour = 3600;
const int32_t kSecondsPerMinute = 60;
const int64_t kLargestDateValue = 2147483647;

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

// Days from 1970-01-01 to the first of January of year (1970..2038).
int32_t DaysBeforeYear(int year) {
  int32_t y = year - 1;
  int32_t leapDays = y / 4 - y / 100 + y / 400;
  // 477 leap days fall in the years 1 to 1969.
  return (year - kFirstYear) * 365 + leapDays - 477;
}

struct DateFields {
  int year, month, day, hour, minute, second;
};

DateFields SplitDate(int32_t value) {
  DateFields f = {0, 0, 0, 0, 0, 0};
  if (value < 0) return f;
  int32_t days = value / kSecondsPerDay;
  int32_t rest = value % kSecondsPerDay;
  f.hour = rest / kSecondsPerHour;
  f.minute = rest % kSecondsPerHour / kSecondsPerMinute;
  f.second = rest % kSecondsPerMinute;
  int year = kFirstYear;
  while (days >= (IsLeapYear(year) ? 366 : 365)) {
    days -= IsLeapYear(year) ? 366 : 365;
    year++;
  }
  int month = 1;
  while (days >= DaysInMonth(year, month)) {
    days -= DaysInMonth(year, month);
    month++;
  }
  f.year = year;
  f.month = month;
  f.day = days + 1;
  return f;
}

// Appends value as exactly width decimal digits (leading zeros; higher
// digits beyond width are dropped, as for the two-digit year).
void AppendDigits(Text& out, int value, int width) {
  char digits[4];
  for (int i = width - 1; i >= 0; i--) {
    digits[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out.Append(digits, width);
}

// True when the mask holds token at index i, compared without regard to case.
bool TokenAt(const Text& mask, int i, const char* token) {
  for (int k = 0; token[k] != 0; k++) {
    char c = mask.At(i + k);
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != token[k]) return false;
  }
  return true;
}

}  // namespace

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDays[month - 1];
}

int32_t DateValue(int year, int month, int day, int hour, int minute, int second) {
  if (second < 0 || second > 59 || minute < 0 || minute > 59) return -1;
  if (hour < 0 || hour > 23) return -1;
  if (month < 1 || month > 12 || year <= 0) return -1;
  if (day < 1 || day > DaysInMonth(year, month)) return -1;
  // The count of seconds starts at 1970 and is a signed 32-bit number.
  if (year < kFirstYear || year > kLastYear) return -1;
  int32_t days = DaysBeforeYear(year);
  for (int m = 1; m < month; m++) days += DaysInMonth(year, m);
  days += day - 1;
  int64_t value = static_cast<int64_t>(days) * kSecondsPerDay + hour * kSecondsPerHour +
                  minute * kSecondsPerMinute + second;
  if (value > kLargestDateValue) return -1;
  return static_cast<int32_t>(value);
}

int YearOf(int32_t value) { return SplitDate(value).year; }
int MonthOf(int32_t value) { return SplitDate(value).month; }
int DayOf(int32_t value) { return SplitDate(value).day; }
int HourOf(int32_t value) { return SplitDate(value).hour; }
int MinuteOf(int32_t value) { return SplitDate(value).minute; }
int SecondOf(int32_t value) { return SplitDate(value).second; }

Text FormatDateText(const Text& mask, int32_t value) {
  DateFields f = SplitDate(value);
  Text out;
  int i = 0;
  while (i < mask.Length()) {
    // "%yyyy" before "%yy", or "%yyyy" would come out as the short year + "yy".
    if (TokenAt(mask, i, "%yyyy")) {
      AppendDigits(out, f.year, 4);
      i += 5;
    } else if (TokenAt(mask, i, "%yy")) {
      AppendDigits(out, f.year % 100, 2);
      i += 3;
    } else if (TokenAt(mask, i, "%mm")) {
      AppendDigits(out, f.month, 2);
      i += 3;
    } else if (TokenAt(mask, i, "%dd")) {
      AppendDigits(out, f.day, 2);
      i += 3;
    } else if (TokenAt(mask, i, "%hh")) {
      AppendDigits(out, f.hour, 2);
      i += 3;
    } else if (TokenAt(mask, i, "%ii")) {
      AppendDigits(out, f.minute, 2);
      i += 3;
    } else if (TokenAt(mask, i, "%ss")) {
      AppendDigits(out, f.second, 2);
      i += 3;
    } else {
      out += mask.At(i);
      i++;
    }
  }
  return out;
}
