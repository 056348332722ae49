// Adjusting the PC clock's rate on Windows: the tick adjustment set to the tick's length
// times (1 + frequency + slew rate), precisely where the system can.
#include <math.h>
#include <windows.h>

#include "clock/discipline_adjust.h"
#include "os/oscalls_win32.h"

static int LastError(void) {
  DWORD code = Os.GetLastError();
  return code != 0 ? (int)code : ERROR_GEN_FAILURE;
}

// The tick's length scaled by 1 + ppm / 10^6; disable: the system's own.
static int SetRate(double ppm, BOOL disable) {
  BOOL disabled = FALSE, ok;
  double scale = 1.0 + ppm * 1e-6;
  if (Os.SetSystemTimeAdjustmentPrecise != NULL && Os.GetSystemTimeAdjustmentPrecise != NULL) {
    DWORD64 adjustment = 0, increment = 0;
    ok = Os.GetSystemTimeAdjustmentPrecise(&adjustment, &increment, &disabled) && increment > 0 &&
         Os.SetSystemTimeAdjustmentPrecise(
             disable ? 0 : (DWORD64)llround((double)increment * scale), disable);
  } else {
    DWORD adjustment = 0, increment = 0;
    ok = Os.GetSystemTimeAdjustment(&adjustment, &increment, &disabled) && increment > 0 &&
         Os.SetSystemTimeAdjustment(disable ? 0 : (DWORD)llround((double)increment * scale), disable);
  }
  return ok ? 0 : LastError();
}

int PreparePcClockAdjust(void) {
  HANDLE token = NULL;
  TOKEN_PRIVILEGES privileges;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!Os.OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return LastError();
  }
  int code = 0;
  if (!Os.LookupPrivilegeValueA(NULL, SE_SYSTEMTIME_NAME, &privileges.Privileges[0].Luid) ||
      !Os.AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL)) {
    code = LastError();
  } else if (Os.GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
    code = ERROR_NOT_ALL_ASSIGNED;  // the account does not hold the right
  }
  Os.CloseHandle(token);
  return code != 0 ? code : SetRate(0.0, TRUE);
}

int AdjustPcClock(double frequencyPpm, double slewMs, double slewRatePpm) {
  // A clock ahead (slewMs > 0) runs slower for the slew.
  return SetRate(frequencyPpm + (slewMs > 0.0 ? -slewRatePpm : slewMs < 0.0 ? slewRatePpm : 0.0), FALSE);
}

int EndPcClockSlew(double frequencyPpm) { return SetRate(frequencyPpm, FALSE); }

SlewStyle PcClockSlewStyle(void) { return SlewSpread; }
