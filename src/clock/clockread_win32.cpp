// Reading the PC clock on Windows, and the error code of an impossible instant.
#include <windows.h>

#include <sys/timeb.h>

#include "clock/pcclock.h"

void ReadPcClock(PcTime* reading) {
  struct __timeb64 now;
  _ftime64(&now);
  reading->time = (int64_t)now.time;
  reading->millitm = now.millitm;
}

int InvalidTimeErrorCode(void) { return ERROR_INVALID_PARAMETER; }
