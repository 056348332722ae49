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

void ResetFakeClock(void);

#endif
