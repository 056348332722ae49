// Setting the PC clock on Windows: SetSystemTime with the UTC date and time, never
// SetLocalTime (a local time names some instants twice at the autumn change).
#include <windows.h>

#include "clock/pcclock.h"
#include "os/oscalls_win32.h"

enum : int64_t {
  SecondsFrom1601To1970 = 11644473600LL,
  FileTimeTicksPerSecond = 10000000,  // FILETIME counts 100 ns
  FileTimeTicksPerMs = 10000,
  LastSeconds = 910670515199LL        // 30827-12-31 23:59:59 UTC, the last of SYSTEMTIME
};

// The error number of the call that just failed; ERROR_GEN_FAILURE where it left none.
static int Failure(void) {
  DWORD code = Os.GetLastError();
  return code != 0 ? (int)code : ERROR_GEN_FAILURE;
}

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
