// Takes the place of clock_settime in the system-call table: records what
// would have been set and never touches the machine's clock.
#include <errno.h>
#include <string.h>
#include <time.h>

#include "os/oscalls_posix.h"
#include "support/fake_clockset.h"

FakeClockSet FakeClock;

static int RecordClockSet(clockid_t, const struct timespec* value) {
  ++FakeClock.calls;
  FakeClock.seconds = (int64_t)value->tv_sec;
  FakeClock.milliseconds = (int32_t)(value->tv_nsec / 1000000L);
  if (FakeClock.fail) {
    errno = (int)FakeClock.failCode;
    return -1;
  }
  return 0;
}

void ResetFakeClock(void) {
  memset(&FakeClock, 0, sizeof FakeClock);
  memset(&FakeAdjust, 0, sizeof FakeAdjust);
  Os.SetClock = RecordClockSet;
}

void ResetTestOsCalls(void) {
  ResetOsCalls();
  Os.SetClock = RecordClockSet;
}
