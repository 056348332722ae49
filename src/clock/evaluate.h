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
// (valid, ContValidTime at or above ValidDateTimeCount, naming one real
// instant, whatever DCFSetTime says), right after its "Time diff" line. The
// program points it at the time daemon's feed (FeedReferenceClock,
// refclock/); NULL, the start value, hands the telegram to nobody. So the
// evaluation needs nothing above it.
typedef void (*TrustedTelegramHandler)(TimeTelegram telegram);
extern TrustedTelegramHandler TrustedTelegramHook;

// Where EvaluateTelegram hands the difference (ms, PC minus receiver) of a
// telegram it would set the clock by or leave it alone for as too small:
// trusted, naming one real instant, DCFSetTime on. The program points it at
// the clock discipline when ClockDiscipline is on. It returns 1 when it took
// the difference (the clock is slewed, not set), 0 when the clock is to be
// set as without it. NULL, the start value: the clock is set as always.
typedef int (*ClockSampleHandler)(double difference);
extern ClockSampleHandler ClockSampleHook;

enum { WeekdayNameSize = 10 };
extern const char WeekdayNames[8][WeekdayNameSize];  // "Unknown", "Monday" .. "Sunday"

// What a telegram's fields name as an instant of UTC.
enum InstantKind {
  InstantExact = 0,     // one real instant
  InstantRepeated = 1,  // no zone bit to tell which pass of the autumn's repeated hour
  InstantImpossible = 2 // no real instant at all
};
struct TelegramInstant {
  int32_t kind;  // an InstantKind
  double utcMs;  // milliseconds since 1970 (UTC): the instant, or the nearest reading
};

// The UTC instant of the telegram's date and time, by its own zone bits: Z1
// alone (CEST) is UTC+2, Z2 alone (CET) UTC+1. With Z1 = Z2 (no zone named)
// the German rule for the telegram's date decides (GermanLocalToUtc);
// in the repeated autumn hour the instant is InstantRepeated and utcMs the
// pass nearer the capture. The PC's time zone plays no part.
//
// InstantImpossible when the fields name no real instant (NamesRealDateTime
// of calendar.h, millisecond 0..999), or fall in the hour the spring change
// skips without a zone bit. utcMs is then only the fields added up as
// numbers, never used to set a clock: the date's days (a month above 12
// adds the whole year's months, below 1 none), plus day, hour, minute,
// second and millisecond as they are, less the zone bits' offset (or the
// German rule's, or CET's where that names none).
TelegramInstant TelegramUtc(const TimeTelegram* telegram);

// A difference of two clocks, its absolute value broken down.
struct DifferenceBreakdown {
  int32_t days;  // saturates at INT32_MAX
  int32_t hours;
  int32_t minutes;
  int32_t seconds;
  int32_t milliseconds;
};

// Difference in milliseconds between the PC clock at capture and the
// telegram's UTC instant (TelegramUtc; positive: the PC was ahead), stored
// in *difference, and its absolute value in *breakdown. Returns 1 when the
// difference is 0 or more, 0 when it is negative.
int ClockDifference(const TimeTelegram* telegram, DifferenceBreakdown* breakdown,
                    double* difference);

// The clock's new time: the UTC instant it is set to, and the same instant
// as the PC shows it in its own zone (what the log shows).
struct NewClockRecord {
  int64_t seconds;       // since 1970, UTC
  int32_t milliseconds;  // 0..999
  int32_t year, month, day, hour, minute, second;  // the PC's local date and time
};

// The clock now less difference (ms), into *record. An instant no date can
// name is taken as 0 (and refused when set).
void NewClockTime(double difference, NewClockRecord* record);

// Logs the telegram's flags and its date and time; for a valid one counts it
// when its minute is new and logs the difference to the PC clock. Once
// ContValidTime has reached ValidDateTimeCount it hands a telegram that
// names one instant to the time daemon's feed (TrustedTelegramHook) and,
// when DCFSetTime is on and the difference lies within [SynchronizeDiff ms,
// SynchronizeMaxDiff h], sets the PC clock to the UTC instant the
// difference gives. Such a telegram that names no real instant logs
// "Can't set time! errno N" (the code the platform's set gives for an
// impossible instant) instead; one in the repeated autumn hour without a
// zone bit logs "Repeated hour without time zone, can't synchronize
// time...". Neither sets the clock.
void EvaluateTelegram(TimeTelegram telegram);

#endif
