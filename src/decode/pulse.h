// The pulse decoder, pure: edges of a plain receiver's second pulses go in; a
// minute comes out as the raw frame DecodeRawTelegram reads, captured at the
// leading edge of its second 0 less the receiver's delay. A pulse (the line's
// high state after invert) is 100 ms for a 0, 200 ms for a 1, none in second 59;
// a gap of two seconds ends a minute. Shorter levels than PulseGlitchMs and pulses
// off the 1 s pace are glitches; a run of inverted widths flips the polarity.
#ifndef DCFSYNC_DECODE_PULSE_H
#define DCFSYNC_DECODE_PULSE_H

#include <stdint.h>

enum {
  PulseGlitchMs = 40,          // shorter levels are noise
  PulseZeroMinMs = 60,         // 0: 60..149 ms
  PulseOneMinMs = 150,         // 1: 150..260 ms
  PulseOneMaxMs = 260,
  PulseInvertedMinMs = 700,    // widths of inverted wiring: 700..980 ms
  PulseInvertedMaxMs = 980,
  PulseInvertedRun = 5,        // such widths in a row flip the polarity
  PulsePaceToleranceMs = 100,  // a pulse within this of the 1 s pace counts
  PulseOffPaceRun = 3,         // pulses off the pace in a row move the pace
  PulseFrameSize = 26,
  PulseBits = 61               // room for a leap minute's 60 pulses
};

// One change of the status line.
struct PulseEdge {
  int64_t monoMs;  // the program's monotonic clock
  int64_t wallUs;  // the PC clock, µs since 1970 (UTC)
  int32_t level;   // after the change, 0 or 1
};

// One minute's reception; zeroMs and oneMs: the mean widths (0 when none).
struct PulseQuality {
  int32_t pulses, glitches, zeroMs, oneMs;
};

struct PulseOutput {
  int32_t telegram;  // 1: frame and capture hold a complete minute
  unsigned char frame[PulseFrameSize];
  int64_t captureWallUs;  // the leading edge of second 0, less the delay
  int64_t captureMonoMs;
  int32_t minuteEnded;  // 1: a minute mark passed; quality is the minute before it
  PulseQuality quality;
};

struct PulseDecoder {
  int32_t invert;    // in force (starts as the setting, flipped when recognised)
  int32_t delayMs;   // PulseDelay
  int32_t high;      // the line (after invert) is in a pulse
  int64_t riseMs, riseWallUs;  // the pulse being assembled
  int32_t pending;   // a finished pulse waits for its gap to be longer than a glitch
  int64_t pendRiseMs, pendRiseWallUs, pendFallMs;
  int32_t paced;     // the pace is known: markMs is the last pulse taken
  int64_t markMs, markWallUs, expectedMs;  // its leading edge, and where the pace put it
  int32_t markWidth;
  int32_t offPace;   // pulses off the pace in a row
  int32_t invertedRun;
  int32_t count;     // pulses of the minute so far; -1: its start unknown
  uint8_t bits[PulseBits];
  int32_t badMarks;
  int32_t settle;    // a complete minute waits until second 0's pulse is final
  unsigned char frame[PulseFrameSize];
  int64_t captureWallUs, captureMonoMs;
  int32_t zeroSum, zeroCount, oneSum, oneCount;
  PulseQuality quality;  // of the minute so far
};

void PulseDecoderStart(PulseDecoder* decoder, int32_t invert, int32_t delayMs);

// Takes the next edge; returns 1 when *out holds a telegram or a minute's quality.
int FeedPulseEdge(PulseDecoder* decoder, const PulseEdge* edge, PulseOutput* out);

#endif
