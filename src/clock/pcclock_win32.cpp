// The PC clock on Windows: read with _ftime64, set with SetSystemTime in UTC (never
// SetLocalTime: a local time names some instants twice at the autumn change); its rate
// through the tick adjustment, the tick's length times (1 + frequency + slew rate),
// precisely where the system can.
#include <math.h>
#include <windows.h>

#include <sys/timeb.h>

#include "clock/discipline_adjust.h"
#include "clock/pcclock.h"
#include "os/oscalls_win32.h"

// The error number of the call that just failed; ERROR_GEN_FAILURE where it left none.
static int Failure(void) {
  DWORD code = Os.GetLastError();
  return code != 0 ? (int)code : ERROR_GEN_FAILURE;
}

void ReadPcClock(PcTime* reading) {
  struct __timeb64 now;
  _ftime64(&now);
  reading->time = (int64_t)now.time;
  reading->millitm = now.millitm;
}

int InvalidTimeErrorCode(void) { return ERROR_INVALID_PARAMETER; }

enum : int64_t {
  SecondsFrom1601To1970 = 11644473600LL,
  FileTimeTicksPerSecond = 10000000,  // FILETIME counts 100 ns
  FileTimeTicksPerMs = 10000,
  LastSeconds = 910670515199LL        // 30827-12-31 23:59:59 UTC, the last of SYSTEMTIME
};

int SetPcUtcTime(int64_t seconds, int32_t milliseconds) {
  if (seconds < 0 || seconds > LastSeconds || milliseconds < 0 || milliseconds > 999) {
    return InvalidTimeErrorCode();
  }
  uint64_t ticks = (uint64_t)(seconds + SecondsFrom1601To1970) * FileTimeTicksPerSecond +
                   (uint64_t)milliseconds * FileTimeTicksPerMs;
  FILETIME file;
  file.dwLowDateTime = (DWORD)(ticks & 0xFFFFFFFFu);
  file.dwHighDateTime = (DWORD)(ticks >> 32);
  SYSTEMTIME value;
  if (FileTimeToSystemTime(&file, &value) && Os.SetSystemTime(&value)) return 0;
  return Failure();
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
  return ok ? 0 : Failure();
}

int PreparePcClockAdjust(void) {
  HANDLE token = NULL;
  TOKEN_PRIVILEGES privileges;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!Os.OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return Failure();
  }
  int code = 0;
  if (!Os.LookupPrivilegeValueA(NULL, SE_SYSTEMTIME_NAME, &privileges.Privileges[0].Luid) ||
      !Os.AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL)) {
    code = Failure();
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
