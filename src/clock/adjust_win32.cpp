// Adjusting the PC clock's rate on Windows: the tick adjustment, the time
// added to the clock at each of its ticks, set to the tick's length times
// (1 + frequency + slew rate), with SetSystemTimeAdjustmentPrecise where the
// system has it, else SetSystemTimeAdjustment. Both need the right to set
// the clock; the Windows Time service must not be adjusting it meanwhile.
#include <math.h>
#include <windows.h>

#include "clock/adjust.h"
#include "clock/adjust_win32.h"

BOOL(WINAPI* PreciseAdjustmentSetter)(DWORD64, BOOL) = NULL;
BOOL(WINAPI* PreciseAdjustmentGetter)(PDWORD64, PDWORD64, PBOOL) = NULL;
BOOL(WINAPI* AdjustmentSetter)(DWORD, BOOL) = ::SetSystemTimeAdjustment;
BOOL(WINAPI* AdjustmentGetter)(PDWORD, PDWORD, PBOOL) = ::GetSystemTimeAdjustment;
int AdjustmentCallsReady = 0;

typedef BOOL(WINAPI* PreciseSetter)(DWORD64, BOOL);
typedef BOOL(WINAPI* PreciseGetter)(PDWORD64, PDWORD64, PBOOL);

static void FindCalls(void) {
  if (AdjustmentCallsReady) return;
  AdjustmentCallsReady = 1;
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == NULL) return;
  FARPROC set = GetProcAddress(kernel, "SetSystemTimeAdjustmentPrecise");
  FARPROC get = GetProcAddress(kernel, "GetSystemTimeAdjustmentPrecise");
  if (set == NULL || get == NULL) return;
  PreciseAdjustmentSetter = (PreciseSetter)(void (*)(void))set;
  PreciseAdjustmentGetter = (PreciseGetter)(void (*)(void))get;
}

// The last error, never 0 for a call that failed.
static uint32_t LastError(void) {
  DWORD code = GetLastError();
  return code != 0 ? (uint32_t)code : (uint32_t)ERROR_GEN_FAILURE;
}

// Sets the adjustment to the tick's length scaled by 1 + ppm / 10^6.
// Returns 0, or the system's error code.
static uint32_t SetRate(double ppm) {
  FindCalls();
  BOOL disabled = FALSE;
  if (PreciseAdjustmentSetter != NULL && PreciseAdjustmentGetter != NULL) {
    DWORD64 adjustment = 0, increment = 0;
    if (PreciseAdjustmentGetter(&adjustment, &increment, &disabled) && increment > 0) {
      double value = (double)increment * (1.0 + ppm * 1e-6);
      if (PreciseAdjustmentSetter((DWORD64)llround(value), FALSE)) return 0;
    }
    return LastError();
  }
  DWORD adjustment = 0, increment = 0;
  if (AdjustmentGetter(&adjustment, &increment, &disabled) && increment > 0) {
    double value = (double)increment * (1.0 + ppm * 1e-6);
    if (AdjustmentSetter((DWORD)llround(value), FALSE)) return 0;
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
