// Recording stand-in for the system call that sets the PC clock
// (clock_settime, SetSystemTime), put in its place in the system-call table
// (os/oscalls_*.h); the program's own SetPcUtcTime runs as it is.
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

// The rate adjustments (clock/adjust.h) asked for, recorded by the stand-ins
// of support/fake_adjust.cpp, which take the place of the platform's own
// (linked only into the program).
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

// Clears the records and puts the recorder in the table.
void ResetFakeClock(void);

// The system's own calls in the table, but the recorder for the clock
// setting: what a test puts back after replacing calls of its own.
void ResetTestOsCalls(void);

#endif
