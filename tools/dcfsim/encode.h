// The simulator's telegram encoder: German legal time (CET/CEST) computed
// from UTC without the host's time zone (by the program's own calendar,
// clock/calendar.h), the 59 bits of a DCF77 minute telegram, and the
// module's raw and decoded answers. Pure functions only.
#ifndef DCFSIM_ENCODE_H
#define DCFSIM_ENCODE_H

#include <stdint.h>

#include "clock/calendar.h"

enum {
  IdentAnswerSize = 12,
  RawAnswerSize = 26,
  DecodedAnswerSize = 10,
  TelegramBytes = 8  // bits 0..58, bit n in byte n / 8 at position n % 8
};

// One minute of German legal time and the flags its telegram carries.
struct LegalMinute {
  int year;      // four digits
  int month;     // 1..12
  int day;       // 1..31
  int hour;      // 0..23
  int minute;    // 0..59
  int weekday;   // 1 Monday .. 7 Sunday
  int cest;      // 1: CEST (Z1), 0: CET (Z2)
  int announce;  // A1: a change between CET and CEST is near
};

// What the module shows at one instant: the minute its last complete
// telegram announced (the current minute) and the position within it.
struct ModuleTime {
  LegalMinute minute;
  int second;      // 0..59
  int hundredths;  // 0..99
};

// Frame variants of the faults that change a telegram answer's content.
// FrameNoZone: both zone bits clear (Z1 = Z2 = 0), as some modules send.
// FrameFlipHour, FrameFlipMinute: the bits of weight 1 and 2 of the hour or
// the minute flipped, so its even parity still holds (e.g. hour 14 read as 17).
enum FrameFault {
  FrameNormal, FrameParity, FrameMarks, FrameIncomplete, FrameNoZone, FrameFlipHour,
  FrameFlipMinute
};

// The legal minute containing utcSeconds, with its zone and announcement.
void LegalMinuteAt(int64_t utcSeconds, LegalMinute* minute);

// UTC seconds of a legal date and time read in the given zone. Returns 0
// when the values name no such minute (day 32, or a time outside the period
// of that zone, e.g. 02:30 CET on the March change day).
int LegalToUtc(int year, int month, int day, int hour, int minute, int cest, int64_t* utc);

// The module's view at utcMilliseconds since 1970.
void ModuleTimeAt(int64_t utcMilliseconds, ModuleTime* time);

// The telegram announcing minute: bits 0..58 as the raw answer carries them.
void EncodeTelegram(const LegalMinute* minute, unsigned char bits[TelegramBytes]);

// The two telegram answers for time, changed as fault (a FrameFault) asks.
void BuildRawAnswer(const ModuleTime* time, int fault, unsigned char frame[RawAnswerSize]);
void BuildDecodedAnswer(const ModuleTime* time, int fault,
                        unsigned char frame[DecodedAnswerSize]);

// The pulse receiver's line: the edges of the second pulses (100 ms a 0,
// 200 ms a 1, none in second 59) of the telegrams sent while the shown time
// (UTC + offsetMs) runs from fromUtcMs for minutes minutes, each minute
// carrying the telegram of the next, with the faults asked for (per second:
// glitch a stray pulse of 5..80 ms, lost no pulse; per bit: flip the other
// width; jitter ±ms on each edge; delay ms late; invert the levels).
struct PulseFaults {
  double glitch, lost, flip;  // probabilities 0..1
  int jitterMs, delayMs, invert;
  uint32_t seed;
};
struct PulseTimelineEdge {
  int64_t utcMs;  // when the line takes level
  int level;
};
// Fills edges (at most capacity, in time order, the first the idle level at
// fromUtcMs) and returns their number.
int BuildPulseTimeline(int64_t fromUtcMs, int minutes, int64_t offsetMs, const PulseFaults* faults,
                       PulseTimelineEdge* edges, int capacity);

#endif
