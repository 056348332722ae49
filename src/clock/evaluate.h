// Telegram evaluation, pure: the lines to log for each telegram, counting
// consecutive valid telegrams of new minutes, the difference to the PC clock
// at capture, and whether to feed the telegram and set the clock within the
// configured bounds. No input or output and no process-wide state: the
// shell (decode/shell.cpp) carries the decision out.
#ifndef DCFSYNC_CLOCK_EVALUATE_H
#define DCFSYNC_CLOCK_EVALUATE_H

#include <stdint.h>

#include "clock/telegram.h"
#include "config/settings.h"

// The run's counting state: what the evaluation remembers from one telegram
// to the next.
struct CountingState {
  // Consecutive valid telegrams that brought a new minute. The decoders set
  // it to 0 when they reject a frame outright.
  int32_t ContValidTime;
  // Date and time down to the minute of the last telegram that was counted
  // (weekday 7, Sunday, kept as 0).
  int32_t year, month, weekday, day, hour, minute;
};

// All zero: no telegram counted, as at the program's start.
void ResetCountingState(CountingState* state);

// The chain: the newest counted telegrams that agree with each other (their
// UTC instants as far apart as the monotonic time between their captures).
struct ChainState {
  int32_t length;         // agreeing counted telegrams, the newest included
  double utcMs;           // the newest one's UTC instant
  int64_t captureMonoMs;  // and the monotonic time of its capture
};

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

enum { DecisionLineCount = 4, DecisionLineSize = 128 };

// What the evaluation of one telegram decided; carried out by the caller.
struct EvaluationDecision {
  char lines[DecisionLineCount][DecisionLineSize];  // to log, in this order
  int32_t lineCount;
  int32_t linesBeforeFeed;  // the feed comes after this many lines
  // The telegram is trusted: valid, ContValidTime at or above
  // ValidDateTimeCount, and naming one real instant. It then goes to the
  // time daemon's feed, whatever DCFSetTime says.
  int32_t trusted;
  // The telegram's UTC instant less the PC clock at capture, in ms
  // (positive: the PC was behind): the "Time diff" line's value, set for
  // every valid telegram.
  double offsetMs;
  // Set the clock: to the PC clock now plus offsetMs, logging
  // "Synchronizing time to ..." first and "Can't set time! errno N" if the
  // system refuses.
  int32_t setClock;
};

// Evaluates telegram against the settings and the counting state, which it
// updates; no input or output of its own. The lines: the telegram's flags
// and its date and time; for a valid one, counted when its minute is new,
// the difference to the PC clock at capture. Once ContValidTime has reached
// ValidDateTimeCount a telegram that names one instant is trusted (fed to
// the time daemon) and, when DCFSetTime is on and the difference lies within
// [SynchronizeDiff ms, SynchronizeMaxDiff h], sets the clock. Beyond
// SynchronizeMaxDiff: "Big difference, can't synchronize time...". A
// telegram that would set the clock but names no real instant gets
// "Can't set time! errno N" with the platform's code for an instant it
// cannot take (InvalidTimeErrorCode); one in the repeated autumn hour
// without a zone bit "Repeated hour without time zone, can't synchronize
// time...". Neither sets the clock nor is trusted.
void EvaluateTelegram(const TimeTelegram* telegram, const SettingsRecord* settings,
                      CountingState* state, EvaluationDecision* decision);

#endif
