// Telegram evaluation: logging each telegram, counting consecutive valid
// telegrams of new minutes, the difference to the PC clock, and setting the
// clock within the configured bounds.
#ifndef DCFSYNC_CLOCK_EVALUATE_H
#define DCFSYNC_CLOCK_EVALUATE_H

#include <stdint.h>

#include "clock/telegram.h"

// Consecutive valid telegrams that brought a new minute. The decoders set it
// to 0 when they reject a frame outright.
extern int32_t ContValidTime;

// Date and time down to the minute of the last telegram that was counted.
struct LastTelegramRecord {
  int32_t year;
  int32_t month;
  int32_t weekday;
  int32_t day;
  int32_t hour;
  int32_t minute;
};
extern LastTelegramRecord LastTelegram;

enum { WeekdayNameSize = 10 };
extern const char WeekdayNames[8][WeekdayNameSize];  // "Unknown", "Monday" .. "Sunday"
extern const int32_t DaysInMonth[2][12];             // [leap year][month - 1]

// Logs the telegram's flags and its date and time; for a valid one counts it
// when its minute is new and logs the difference to the PC clock. Once
// ContValidTime has reached ValidDateTimeCount it hands the telegram to the
// time daemon's feed (FeedReferenceClock) and, when DCFSetTime is on and the
// difference lies within [SynchronizeDiff ms, SynchronizeMaxDiff h], sets
// the PC clock.
void EvaluateTelegram(TimeTelegram telegram);

// Difference in milliseconds between the PC clock at capture and the
// telegram's time (positive: the PC was ahead), stored in *difference, and
// its absolute value broken down into day, hour, minute, second and
// millisecond of *breakdown (all other fields zero). Returns 1 when the
// difference is 0 or more, 0 when it is negative.
//
// The telegram's local time is turned into UTC with the PC's time zone at
// capture. A month outside 1..12 is taken as its nearest end of the year:
// below 1 adds no month, above 12 adds the whole year's months.
int ClockDifference(TimeTelegram telegram, TimeTelegram* breakdown, double* difference);

// Fills record with the clock now corrected by difference: capture with the
// new seconds and milliseconds since 1970 and the current zone fields, and
// hour, minute, second, millisecond, day, month and year with the new local
// date and time. Other fields are left as they are.
void NewClockTime(TimeTelegram* record, double difference);

// 1 for a Gregorian leap year, else 0.
int IsLeapYear(uint32_t year);

#endif
