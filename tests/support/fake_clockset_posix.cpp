// Takes the place of clock_settime and clock_adjtime in the system-call
// table: records what would have been set or adjusted and never touches the
// machine's clock.
#include <errno.h>
#include <string.h>
#include <sys/timex.h>
#include <time.h>

#include "os/oscalls_posix.h"
#include "support/fake_clockset.h"
#include "support/filefaults.h"

FakeClockSet FakeClock;
FakeClockAdjust FakeAdjust;

static int RecordAdjust(clockid_t, struct timex* request) {
  ++FakeAdjust.calls;
  if (FakeAdjust.fail) {
    errno = (int)FakeAdjust.failCode;
    return -1;
  }
  if (request->modes & ADJ_FREQUENCY) FakeAdjust.ratePpm = (double)request->freq / 65536.0;
  if (request->modes & ADJ_OFFSET_SINGLESHOT) FakeAdjust.slewMs = -(double)request->offset / 1000.0;
  return 0;
}

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
  Os.AdjustClock = RecordAdjust;
}

void ResetTestOsCalls(void) {
  ResetOsCalls();
  Os.SetClock = RecordClockSet;
  Os.AdjustClock = RecordAdjust;
}
