// The calendar: days from a civil date and back, weekdays, month lengths,
// and German legal time (CET, UTC+1, and CEST, UTC+2) against UTC.
//
// Pure functions of plain values on the proleptic Gregorian calendar; no
// time zone of the PC, no system call. Used by the evaluation, the time
// daemon's feed and the receiver simulator. Years are 64-bit, so any year a
// 32-bit field holds (and a day or two past it) converts without overflow.
#ifndef DCFSYNC_CLOCK_CALENDAR_H
#define DCFSYNC_CLOCK_CALENDAR_H

#include <stdint.h>

enum : int64_t {
  SecondsPerMinute = 60,
  SecondsPerHour = 3600,
  SecondsPerDay = 86400
};

// German legal time's offsets from UTC, in hours.
enum { CetHours = 1, CestHours = 2 };

// A date of the proleptic Gregorian calendar.
struct CivilDate {
  int64_t year;
  int32_t month;  // 1..12
  int32_t day;    // 1..31
};

// a / b rounded towards minus infinity (b > 0), so instants before 1970
// break down like the ones after.
int64_t FloorDivide(int64_t a, int64_t b);

// 1 for a Gregorian leap year, else 0.
int IsLeapYear(int64_t year);

// Days of month (1..12) in year, leap years counted; 0 for another month.
int32_t MonthLength(int64_t year, int32_t month);

// Days from 1970-01-01 to year-month-day (negative before 1970). month 1..12
// and day 1..31 expected; a day past the month's end counts on into the next.
int64_t DaysFromCivil(int64_t year, int32_t month, int32_t day);

// The date days after 1970-01-01 (before it for negative days).
CivilDate CivilFromDays(int64_t days);

// Weekday of the date days after 1970-01-01: 1 Monday .. 7 Sunday.
int32_t WeekdayOfDays(int64_t days);

// 1 when the fields name a real date and time: year 1..9999, month 1..12,
// day within the month (leap years counted), hour 0..23, minute 0..59,
// second 0..59, and a weekday 1..7 that is the date's own (0, unknown, is
// no claim and passes). Else 0.
int NamesRealDateTime(int64_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                      int32_t second, int32_t weekday);

// The changes of German legal time in year, in UTC seconds since 1970: CEST
// begins on the last Sunday of March at 01:00 UTC and ends on the last
// Sunday of October at 01:00 UTC.
int64_t CestStartUtc(int64_t year);
int64_t CestEndUtc(int64_t year);

// 1 when German legal time is CEST at utcSeconds, else 0 (CET).
int IsCestAt(int64_t utcSeconds);

// The UTC instants (seconds since 1970) at which German legal time reads
// localSeconds (its date and time counted as seconds since 1970-01-01 00:00
// as if it were UTC). Returns how many there are: 1 on all but two hours of
// the year (*first); 2 in the repeated hour of the autumn change, 02:00 to
// 02:59 on its day (*first the CEST pass, *second the CET pass an hour
// later); 0 in the hour the spring change skips, 02:00 to 02:59 on its day.
int GermanLocalToUtc(int64_t localSeconds, int64_t* first, int64_t* second);

#endif
