// Takes the place of the platform's rate adjustment (clock/adjust.h), which
// is linked only into the program: records what would have been put in force
// and never touches the machine's clock.
#include <string.h>

#include "clock/adjust.h"
#include "support/fake_clockset.h"

FakeClockAdjust FakeAdjust;

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
