// The poll's decision about a telegram, pure: its lines, the count, the chain, and
// whether it is trusted and sets the clock. driver/poll.cpp carries it out.
#ifndef DCFSYNC_CLOCK_EVALUATE_H
#define DCFSYNC_CLOCK_EVALUATE_H

#include <stdint.h>

#include "clock/discipline.h"
#include "clock/telegram.h"
#include "config/settings.h"

// ContValidTime and the date and time, to the minute, of the last telegram counted.
struct CountingState {
  int32_t ContValidTime;
  int32_t year, month, weekday, day, hour, minute;  // weekday 7 (Sunday) kept as 0
};
void ResetCountingState(CountingState* state);

// The counted telegrams that agree: each names a UTC instant as far from the one
// before as the monotonic time between their captures, within ChainToleranceMs.
struct ChainState {
  int32_t length;         // agreeing counted telegrams, the newest included; 0: none
  double utcMs;           // the newest one's UTC instant
  int64_t captureMonoMs;  // the monotonic time of its capture
};
enum { ChainToleranceMs = 1000 };

// Repeated: in the autumn's repeated hour with no zone bit to tell the pass.
enum InstantKind { InstantExact = 0, InstantRepeated = 1, InstantImpossible = 2 };
struct TelegramInstant {
  int32_t kind;  // an InstantKind
  double utcMs;  // ms since 1970 (UTC): the instant, or the nearest reading
};

// The UTC instant of the telegram's fields: by its zone bits (Z1 alone UTC+2, Z2
// alone UTC+1), else by the German rule (in the repeated hour the pass nearer the
// capture). Impossible: no real date and time, or a millisecond outside 0..999.
TelegramInstant TelegramUtc(const TimeTelegram* telegram);

struct DifferenceBreakdown {
  int32_t days;  // saturates at INT32_MAX
  int32_t hours, minutes, seconds, milliseconds;
};

// *difference: the PC clock at capture less the telegram's UTC instant, ms, its absolute
// value broken down. Returns 1 when the difference is 0 or more, else 0.
int ClockDifference(const TimeTelegram* telegram, DifferenceBreakdown* breakdown,
                    double* difference);

// Seconds between polls: timer x 60 while TimerEnable is on (at most INT32_MAX), else 1.
int32_t PollSeconds(const SettingsRecord* settings);

// What a trusted telegram says about the PC clock, for the feed, discipline and set.
struct TelegramSample {
  double offsetMs;        // the telegram's UTC instant less the PC clock at capture
  int64_t referenceMs;    // that UTC instant, ms since 1970
  PcTime capture;         // the PC clock (UTC) when the module read its own
  int64_t captureMonoMs;  // the monotonic time of the same instant
  int32_t leapAnnounced;  // the telegram's A2
};

enum { DecisionLineCount = 12, DecisionLineSize = 128, DataLineTextSize = 160 };

// What one poll does, in this order: append the data line, log the lines, feed the
// sample, carry out the discipline's command, set the clock to now plus sample.offsetMs.
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

void StartDecision(PollDecision* decision);  // nothing to do
void AddDecisionLine(PollDecision* decision, const char* text);  // dropped when full

// A frame rejected outright or an invalid telegram: resets the count and the chain.
void BreakCount(CountingState* counting, ChainState* chain);

// Decides about telegram (capture: the PC clock at captureMonoMs), updating counting and
// chain. Trusted: ContValidTime and the agreeing chain have reached ValidDateTimeCount (a
// count of 1 or less: alone) and it names one real instant. With DCFSetTime on it sets the
// clock as discipline decides (when not NULL), else from SynchronizeDiff on; beyond
// SynchronizeMaxDiff hours, or naming no instant or two, it logs why not.
void DecideTelegram(const TimeTelegram* telegram, int64_t captureMonoMs,
                    const SettingsRecord* settings, CountingState* counting, ChainState* chain,
                    DisciplineState* discipline, PollDecision* decision);

#endif
