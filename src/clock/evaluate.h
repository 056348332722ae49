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

// Where EvaluateTelegram hands every telegram the clock-setting rule trusts
// (valid, ContValidTime at or above ValidDateTimeCount, whatever DCFSetTime
// says), right after its "Time diff" line. The program points it at the
// time daemon's feed (FeedReferenceClock, refclock/); NULL, the start value,
// hands the telegram to nobody. So the evaluation needs nothing above it.
typedef void (*TrustedTelegramHandler)(TimeTelegram telegram);
extern TrustedTelegramHandler TrustedTelegramHook;

// Where EvaluateTelegram hands the difference (ms, PC minus receiver) of a
// telegram it would set the clock by or leave it alone for as too small:
// trusted, DCFSetTime on, the telegram's zone agreeing with the PC's. The
// program points it at the clock discipline when ClockDiscipline is on. It
// returns 1 when it took the difference (the clock is slewed, not set), 0
// when the clock is to be set as without it. NULL, the start value: the
// clock is set as always.
typedef int (*ClockSampleHandler)(double difference);
extern ClockSampleHandler ClockSampleHook;

enum { WeekdayNameSize = 10 };
extern const char WeekdayNames[8][WeekdayNameSize];  // "Unknown", "Monday" .. "Sunday"
extern const int32_t DaysInMonth[2][12];             // [leap year][month - 1]

// Logs the telegram's flags and its date and time; for a valid one counts it
// when its minute is new and logs the difference to the PC clock. Once
// ContValidTime has reached ValidDateTimeCount it hands the telegram to the
// time daemon's feed (TrustedTelegramHook) and, when DCFSetTime is on, the
// difference lies within [SynchronizeDiff ms, SynchronizeMaxDiff h] and the
// telegram's zone agrees with the PC's at capture (TelegramZoneAgrees), sets
// the PC clock to the UTC instant the difference gives. A telegram whose
// zone disagrees is logged, counted and fed as any other; the clock is left
// alone without a message, since its difference spans a change of
// daylight-saving time (or the PC's zone is not the transmitter's) and is no
// clock error.
void EvaluateTelegram(TimeTelegram telegram);

// 1 when the telegram's zone bits name the zone the PC's daylight-saving flag
// at capture is in: Z1 set and Z2 clear (CEST) with the flag set, Z1 clear
// and Z2 set (CET) with the flag clear. 0 otherwise, also when Z1 and Z2 are
// equal, which names no zone.
int TelegramZoneAgrees(const TimeTelegram* telegram);

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
// new seconds and milliseconds since 1970 (UTC, what the clock is set to) and
// the current zone fields, and hour, minute, second, millisecond, day, month
// and year with the new local date and time (what the log shows). Other
// fields are left as they are.
void NewClockTime(TimeTelegram* record, double difference);

// 1 for a Gregorian leap year, else 0.
int IsLeapYear(uint32_t year);

#endif
