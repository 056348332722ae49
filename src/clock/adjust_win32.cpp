// Adjusting the PC clock's rate on Windows: the tick adjustment, the time
// added to the clock at each of its ticks, set to the tick's length times
// (1 + frequency + slew rate), with SetSystemTimeAdjustmentPrecise where the
// system has it, else SetSystemTimeAdjustment, through the system-call
// table. Both need the right to set the clock; the Windows Time service must
// not be adjusting it meanwhile.
#include <math.h>
#include <windows.h>

#include "clock/adjust.h"
#include "os/oscalls_win32.h"

// The last error, never 0 for a call that failed.
static uint32_t LastError(void) {
  DWORD code = Os.GetLastError();
  return code != 0 ? (uint32_t)code : (uint32_t)ERROR_GEN_FAILURE;
}

// Sets the adjustment to the tick's length scaled by 1 + ppm / 10^6.
// Returns 0, or the system's error code.
static uint32_t SetRate(double ppm) {
  BOOL disabled = FALSE;
  if (Os.SetSystemTimeAdjustmentPrecise != NULL && Os.GetSystemTimeAdjustmentPrecise != NULL) {
    DWORD64 adjustment = 0, increment = 0;
    if (Os.GetSystemTimeAdjustmentPrecise(&adjustment, &increment, &disabled) && increment > 0) {
      double value = (double)increment * (1.0 + ppm * 1e-6);
      if (Os.SetSystemTimeAdjustmentPrecise((DWORD64)llround(value), FALSE)) return 0;
    }
    return LastError();
  }
  DWORD adjustment = 0, increment = 0;
  if (Os.GetSystemTimeAdjustment(&adjustment, &increment, &disabled) && increment > 0) {
    double value = (double)increment * (1.0 + ppm * 1e-6);
    if (Os.SetSystemTimeAdjustment((DWORD)llround(value), FALSE)) return 0;
  }
  return LastError();
}

uint32_t AdjustPcClock(double frequencyPpm, double slewMs, double slewRatePpm) {
  // A clock ahead (slewMs > 0) runs slower for the slew.
  double slew = slewMs > 0.0 ? -slewRatePpm : (slewMs < 0.0 ? slewRatePpm : 0.0);
  return SetRate(frequencyPpm + slew);
}

uint32_t EndPcClockSlew(double frequencyPpm) { return SetRate(frequencyPpm); }

SlewStyle PcClockSlewStyle(void) { return SlewSpread; }
