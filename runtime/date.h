// Calendar dates: a date value is a signed 32-bit count of seconds from
// 1970-01-01 00:00:00 to a date and time, both read on the same local wall
// clock, with no time-zone or daylight-saving shift.
#ifndef VEZOVUD_RUNTIME_DATE_H
#define VEZOVUD_RUNTIME_DATE_H

#include <stdint.h>

#include "runtime/text.h"

// The date value of the six fields, or -1 when they are no valid calendar
// date and time (second or minute outside 0..59, hour outside 0..23, day
// outside the month, month outside 1..12, year 0 or below, February 29 of a
// year that is not a leap year). Dates before 1970, and those after
// 2038-01-19 03:14:07 that the signed 32-bit count cannot hold, also give -1.
int32_t DateValue(int year, int month, int day, int hour, int minute, int second);

// The days of month (1..12) in year of the proleptic Gregorian calendar; 0
// for a month outside 1..12.
int DaysInMonth(int year, int month);

// The fields of a date value: year in full, month 1..12, day 1..31, hour
// 0..23, minute and second 0..59. A negative value gives 0 for every field.
int YearOf(int32_t value);
int MonthOf(int32_t value);
int DayOf(int32_t value);
int HourOf(int32_t value);
int MinuteOf(int32_t value);
int SecondOf(int32_t value);

// The mask with each date token replaced by a field of value. Tokens are
// compared without regard to case: "%yyyy" the year (four digits), "%yy" its
// last two digits, "%mm", "%dd", "%hh", "%ii", "%ss" month, day, hour,
// minute and second as two digits. Anything else, a lone "%" included, is
// copied unchanged.
Text FormatDateText(const Text& mask, int32_t value);

#endif
