// The calendar, pure: civil dates of the proleptic Gregorian calendar (64-bit
// years, so no int32 field overflows), weekdays, and German legal time against UTC.
#ifndef DCFSYNC_CLOCK_CALENDAR_H
#define DCFSYNC_CLOCK_CALENDAR_H

#include <stdint.h>

enum : int64_t { SecondsPerMinute = 60, SecondsPerHour = 3600, SecondsPerDay = 86400 };
enum { CetHours = 1, CestHours = 2 };  // German legal time's offsets from UTC

struct CivilDate {
  int64_t year;
  int32_t month;  // 1..12
  int32_t day;    // 1..31
};

int64_t FloorDivide(int64_t a, int64_t b);  // a / b rounded towards minus infinity (b > 0)
int IsLeapYear(int64_t year);               // 1 or 0
int32_t MonthLength(int64_t year, int32_t month);  // 0 for a month outside 1..12

// Days from 1970-01-01 (negative before); a day past the month's end counts on.
int64_t DaysFromCivil(int64_t year, int32_t month, int32_t day);
CivilDate CivilFromDays(int64_t days);
int32_t WeekdayOfDays(int64_t days);  // 1 Monday .. 7 Sunday

// 1 when the fields name a real date and time of years 1..9999 and weekday is
// the date's own or 0 (unknown), else 0.
int NamesRealDateTime(int64_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                      int32_t second, int32_t weekday);

// CEST's start and end in year (the last Sundays of March and October, 01:00
// UTC), and whether it is in force, in UTC seconds since 1970.
int64_t CestStartUtc(int64_t year);
int64_t CestEndUtc(int64_t year);
int IsCestAt(int64_t utcSeconds);

// The UTC instants at which German legal time reads localSeconds (its date and
// time counted as if UTC). Returns how many: 1 (*first); 2 in the autumn's
// repeated hour (*first the CEST pass); 0 in the hour the spring change skips.
int GermanLocalToUtc(int64_t localSeconds, int64_t* first, int64_t* second);

#endif
