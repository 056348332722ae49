// The poll's decision about a telegram, pure: its lines, the count of
// consecutive valid telegrams, the chain of telegrams that agree with each
// other, the difference to the PC clock at capture, and whether the
// telegram is trusted (fed, handed to the discipline) and sets the clock.
// No clock is read, nothing written; driver/poll.cpp carries it out.
#ifndef DCFSYNC_CLOCK_EVALUATE_H
#define DCFSYNC_CLOCK_EVALUATE_H

#include <stdint.h>

#include "clock/discipline.h"
#include "clock/telegram.h"
#include "config/settings.h"

// ContValidTime and the date and time down to the minute of the last
// telegram counted (weekday 7, Sunday, kept as 0).
struct CountingState {
  int32_t ContValidTime;
  int32_t year, month, weekday, day, hour, minute;
};
void ResetCountingState(CountingState* state);

// The counted telegrams that agree with each other: each names a UTC instant
// as far from the one before as the monotonic time between their captures,
// within ChainToleranceMs.
struct ChainState {
  int32_t length;         // agreeing counted telegrams, the newest included; 0: none
  double utcMs;           // the newest one's UTC instant
  int64_t captureMonoMs;  // the monotonic time of its capture
};
enum { ChainToleranceMs = 1000 };

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

// The UTC instant of the telegram's fields by its zone bits (Z1 alone UTC+2,
// Z2 alone UTC+1), else by the German rule for its date (in the repeated
// autumn hour: the pass nearer the capture, InstantRepeated). Impossible: no
// real date and time (NamesRealDateTime), a millisecond outside 0..999, or
// the hour the spring change skips; utcMs then adds the fields up as numbers.
TelegramInstant TelegramUtc(const TimeTelegram* telegram);

// A difference of two clocks, its absolute value broken down.
struct DifferenceBreakdown {
  int32_t days;  // saturates at INT32_MAX
  int32_t hours, minutes, seconds, milliseconds;
};

// The PC clock at capture less the telegram's UTC instant, in ms (positive:
// the PC was ahead), into *difference, its absolute value broken down into
// *breakdown. Returns 1 when the difference is 0 or more, else 0.
int ClockDifference(const TimeTelegram* telegram, DifferenceBreakdown* breakdown,
                    double* difference);

// Seconds from one poll to the next: timer x 60 while TimerEnable is on
// (at most INT32_MAX), 1 for polls without a wait.
int32_t PollSeconds(const SettingsRecord* settings);

// What a trusted telegram says about the PC clock: taken by the feed, the
// discipline and the clock's set alike.
struct TelegramSample {
  double offsetMs;        // the telegram's UTC instant less the PC clock at capture
  int64_t referenceMs;    // that UTC instant, ms since 1970
  PcTime capture;         // the PC clock (UTC) when the module read its own
  int64_t captureMonoMs;  // the monotonic time of the same instant
  int32_t leapAnnounced;  // the telegram's A2
};

enum { DecisionLineCount = 12, DecisionLineSize = 128, DataLineTextSize = 160 };

// What one poll does, in this order: the data line appended to the data
// file (after a timestamp), the lines logged, the sample fed, the
// discipline's command carried out, the clock set to the PC clock now plus
// sample.offsetMs.
struct PollDecision {
  char dataLine[DataLineTextSize];  // empty: none
  char lines[DecisionLineCount][DecisionLineSize];
  int32_t lineCount;
  int32_t trusted;  // valid, counted up to ValidDateTimeCount, agreeing, a real instant
  TelegramSample sample;  // offsetMs set for every valid telegram, the rest when trusted
  int32_t discipline;     // carry discipline out
  DisciplineCommand disciplineCommand;
  int32_t setClock;
};

// Empties decision: no data line, no line, nothing to do.
void StartDecision(PollDecision* decision);

// Adds a line to decision (dropped beyond DecisionLineCount).
void AddDecisionLine(PollDecision* decision, const char* text);

// The telegram resets the count and the chain (a frame rejected outright,
// an invalid telegram).
void BreakCount(CountingState* counting, ChainState* chain);

// Decides about telegram, captured at captureMonoMs (its capture field: the
// PC clock then), adding to decision and updating counting and chain. Lines:
// flags, date and time; for a valid telegram "Time diff" (counted when its
// minute is new) and, when a counted one disagrees with the chain's newest,
// one line (the chain starts again from it). Trusted: ContValidTime has
// reached ValidDateTimeCount, the chain holds that many and the telegram
// agrees with it (a count of 1 or less: alone), and it names one real
// instant. With DCFSetTime on, such an agreeing telegram sets the clock: as
// the discipline chooses when discipline is not NULL (its state updated by
// trusted telegrams), else from SynchronizeDiff on; beyond SynchronizeMaxDiff
// hours, naming no instant or two, it gets its line instead.
void DecideTelegram(const TimeTelegram* telegram, int64_t captureMonoMs,
                    const SettingsRecord* settings, CountingState* counting, ChainState* chain,
                    DisciplineState* discipline, PollDecision* decision);

#endif
