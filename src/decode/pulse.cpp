// The pulse decoder: edges to pulses, pulses to seconds, seconds to minutes.
#include "decode/pulse.h"

#include <string.h>

void PulseDecoderStart(PulseDecoder* d, int32_t invert, int32_t delayMs) {
  memset(d, 0, sizeof *d);
  d->invert = invert != 0;
  d->delayMs = delayMs;
  d->count = -1;
}

// 0, 1, or -1 for a width that is neither.
static int Classify(int64_t width) {
  if (width >= PulseZeroMinMs && width < PulseOneMinMs) return 0;
  if (width >= PulseOneMinMs && width <= PulseOneMaxMs) return 1;
  return -1;
}

static int64_t Distance(int64_t a, int64_t b) { return a > b ? a - b : b - a; }

// Counts a pulse's width into the minute (sign -1 takes it out again).
static void CountWidth(PulseDecoder* d, int32_t width, int sign) {
  int kind = Classify(width);
  if (kind == 0) d->zeroSum += sign * width, d->zeroCount += sign;
  if (kind == 1) d->oneSum += sign * width, d->oneCount += sign;
  if (kind < 0) d->badMarks += sign;
}

// The bit of the minute's latest second, from width.
static void SetBit(PulseDecoder* d, int32_t width) {
  if (d->count > 0) d->bits[d->count - 1] = width >= PulseOneMinMs ? 1 : 0;
}

static void TakeMark(PulseDecoder* d, int64_t rise, int64_t riseWall, int32_t width,
                     int64_t expected) {
  d->paced = 1;
  d->markMs = rise;
  d->markWallUs = riseWall;
  d->markWidth = width;
  d->expectedMs = expected;
}

// The raw frame of the minute's 59 bits and bad marks, out once second 0 is final.
static void BuildFrame(PulseDecoder* d, int64_t rise, int64_t riseWall) {
  memset(d->frame, 0, sizeof d->frame);
  d->frame[0] = (unsigned char)(d->badMarks > 255 ? 255 : d->badMarks);
  d->frame[13] = 59;
  for (int n = 0; n < 59; ++n) {
    if (d->bits[n]) d->frame[15 + n / 8] |= (unsigned char)(1u << (n % 8));
  }
  d->settle = 1;
  d->captureWallUs = riseWall - (int64_t)d->delayMs * 1000;
  d->captureMonoMs = rise - d->delayMs;
}

// A finished pulse: its place in the pace and in the minute.
static int TakePulse(PulseDecoder* d, int64_t rise, int64_t riseWall, int32_t width,
                     PulseOutput* out) {
  if (width >= PulseInvertedMinMs && width <= PulseInvertedMaxMs) {
    if (++d->invertedRun >= PulseInvertedRun) {
      PulseDecoderStart(d, !d->invert, d->delayMs);  // the line's present level is a pulse's end
      return 0;
    }
  } else if (Classify(width) >= 0) {
    d->invertedRun = 0;
  }
  if (!d->paced) {
    TakeMark(d, rise, riseWall, width, rise);
    d->quality.pulses++;
    return 0;
  }
  int64_t since = rise - d->markMs;
  int64_t seconds = (since + 500) / 1000;
  int64_t off = since - seconds * 1000;
  if (seconds == 0) {
    // A second pulse in one second: the one nearer the pace stays.
    d->quality.glitches++;
    if (Distance(rise, d->expectedMs) < Distance(d->markMs, d->expectedMs)) {
      CountWidth(d, d->markWidth, -1);
      CountWidth(d, width, 1);
      if (d->settle && d->count == 1) {  // second 0 replaced: the capture follows
        d->captureWallUs = riseWall - (int64_t)d->delayMs * 1000;
        d->captureMonoMs = rise - d->delayMs;
      }
      TakeMark(d, rise, riseWall, width, d->expectedMs);
      SetBit(d, width);
    }
    return 0;
  }
  if (off < -PulsePaceToleranceMs || off > PulsePaceToleranceMs) {
    d->quality.glitches++;
    if (++d->offPace >= PulseOffPaceRun) {
      d->offPace = 0;
      d->settle = 0;
      d->count = -1;
      TakeMark(d, rise, riseWall, width, rise);
    }
    return 0;
  }
  d->offPace = 0;
  if (d->settle) {  // second 0 is final: the minute goes out
    d->settle = 0;
    out->telegram = 1;
    memcpy(out->frame, d->frame, sizeof out->frame);
    out->captureWallUs = d->captureWallUs;
    out->captureMonoMs = d->captureMonoMs;
  }
  if (seconds == 2) {  // the missing pulse: a minute mark
    out->minuteEnded = 1;
    out->quality = d->quality;
    out->quality.zeroMs = d->zeroCount > 0 ? d->zeroSum / d->zeroCount : 0;
    out->quality.oneMs = d->oneCount > 0 ? d->oneSum / d->oneCount : 0;
    int complete = d->count == 59 || (d->count == 60 && d->bits[19] && !d->bits[59]);
    if (complete) BuildFrame(d, rise, riseWall);
    d->count = 0;
    d->badMarks = d->zeroSum = d->zeroCount = d->oneSum = d->oneCount = 0;
    memset(&d->quality, 0, sizeof d->quality);
  } else if (seconds > 2) {
    d->count = -1;  // pulses lost: where the minute stands is unknown
  }
  TakeMark(d, rise, riseWall, width, d->markMs + seconds * 1000);
  d->quality.pulses++;
  CountWidth(d, width, 1);
  if (d->count >= 0) {
    if (++d->count > PulseBits) d->count = -1;  // no minute mark came
    SetBit(d, width);
  }
  return out->telegram || out->minuteEnded;
}

int FeedPulseEdge(PulseDecoder* d, const PulseEdge* edge, PulseOutput* out) {
  memset(out, 0, sizeof *out);
  int high = (edge->level != 0) != (d->invert != 0);
  if (high == d->high) return 0;  // no change of the chosen line
  d->high = high;
  if (!high) {
    int64_t width = edge->monoMs - d->riseMs;
    if (width < PulseGlitchMs) {
      d->quality.glitches++;  // a spike
      return 0;
    }
    d->pending = 1;
    d->pendRiseMs = d->riseMs;
    d->pendRiseWallUs = d->riseWallUs;
    d->pendFallMs = edge->monoMs;
    return 0;
  }
  if (d->pending && edge->monoMs - d->pendFallMs < PulseGlitchMs) {
    d->pending = 0;  // a dropout inside the pulse: it goes on
    d->quality.glitches++;
    return 0;
  }
  d->riseMs = edge->monoMs;
  d->riseWallUs = edge->wallUs;
  if (!d->pending) return 0;
  d->pending = 0;
  return TakePulse(d, d->pendRiseMs, d->pendRiseWallUs, (int32_t)(d->pendFallMs - d->pendRiseMs),
                   out);
}
