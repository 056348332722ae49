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

// Clears the record and puts the recorder in the table.
void ResetFakeClock(void);

// The system's own calls in the table, but the recorder for the clock
// setting: what a test puts back after replacing calls of its own.
void ResetTestOsCalls(void);

#endif
