// Recording stand-in for the call that sets the PC clock.
#ifndef DCFSYNC_TESTS_FAKE_CLOCKSET_H
#define DCFSYNC_TESTS_FAKE_CLOCKSET_H

#include <stdint.h>

#include "clock/pcclock.h"

struct FakeClockSet {
  int calls;               // how often the clock would have been set
  int64_t seconds;         // the last requested instant: seconds since 1970, UTC
  int32_t milliseconds;    // and its milliseconds
  int fail;                // non-zero: refuse with failCode
  uint32_t failCode;
};
extern FakeClockSet FakeClock;

// The rate adjustments (clock/adjust.h) asked for.
struct FakeClockAdjust {
  int adjustCalls;     // AdjustPcClock
  int endCalls;        // EndPcClockSlew
  double frequencyPpm; // the last frequency put in force by either
  double slewMs;       // the last slew started (0 after an end)
  double slewRatePpm;
  int fail;            // non-zero: refuse with failCode
  uint32_t failCode;
};
extern FakeClockAdjust FakeAdjust;

void ResetFakeClock(void);

#endif
