// Takes the place of the platform call that sets the clock: records what would
// have been set and never touches the machine's clock.
#include "support/fake_clockset.h"

#include <string.h>

#include "clock/adjust.h"

FakeClockSet FakeClock;
FakeClockAdjust FakeAdjust;

void ResetFakeClock(void) {
  memset(&FakeClock, 0, sizeof FakeClock);
  memset(&FakeAdjust, 0, sizeof FakeAdjust);
}

int AdjustPcClock(double frequencyPpm, double slewMs, double slewRatePpm, uint32_t* errorCode) {
  ++FakeAdjust.adjustCalls;
  FakeAdjust.frequencyPpm = frequencyPpm;
  FakeAdjust.slewMs = slewMs;
  FakeAdjust.slewRatePpm = slewRatePpm;
  if (FakeAdjust.fail) *errorCode = FakeAdjust.failCode;
  return FakeAdjust.fail ? 0 : 1;
}

int EndPcClockSlew(double frequencyPpm, uint32_t* errorCode) {
  ++FakeAdjust.endCalls;
  FakeAdjust.frequencyPpm = frequencyPpm;
  FakeAdjust.slewMs = 0.0;
  if (FakeAdjust.fail) *errorCode = FakeAdjust.failCode;
  return FakeAdjust.fail ? 0 : 1;
}

SlewStyle PcClockSlewStyle(void) { return SlewAtKernelRate; }

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
