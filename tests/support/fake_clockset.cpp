// Takes the place of the platform call that sets the clock: records what would
// have been set and never touches the machine's clock.
#include "support/fake_clockset.h"

#include <string.h>

FakeClockSet FakeClock;

void ResetFakeClock(void) { memset(&FakeClock, 0, sizeof FakeClock); }

int SetPcUtcTime(int64_t seconds, int32_t milliseconds, uint32_t* errorCode) {
  ++FakeClock.calls;
  FakeClock.seconds = seconds;
  FakeClock.milliseconds = milliseconds;
  if (FakeClock.fail) {
    *errorCode = FakeClock.failCode;
    return 0;
  }
  return 1;
}
