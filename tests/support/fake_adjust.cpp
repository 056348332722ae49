// Takes the place of the platform's rate adjustment (clock/adjust.h), which
// is linked only into the program: records what would have been put in force
// and never touches the machine's clock.
#include <string.h>

#include "clock/adjust.h"
#include "support/fake_clockset.h"

FakeClockAdjust FakeAdjust;

uint32_t AdjustPcClock(double frequencyPpm, double slewMs, double slewRatePpm) {
  ++FakeAdjust.adjustCalls;
  FakeAdjust.frequencyPpm = frequencyPpm;
  FakeAdjust.slewMs = slewMs;
  FakeAdjust.slewRatePpm = slewRatePpm;
  return FakeAdjust.fail ? FakeAdjust.failCode : 0;
}

uint32_t EndPcClockSlew(double frequencyPpm) {
  ++FakeAdjust.endCalls;
  FakeAdjust.frequencyPpm = frequencyPpm;
  FakeAdjust.slewMs = 0.0;
  return FakeAdjust.fail ? FakeAdjust.failCode : 0;
}

SlewStyle PcClockSlewStyle(void) { return SlewAtKernelRate; }
