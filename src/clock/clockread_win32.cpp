// Reading the PC clock on Windows, and the error code of an impossible
// instant. The C runtime's _ftime64 fills every field,
// time zone and daylight-saving flag included.
#include <windows.h>

#include <sys/timeb.h>
#include <time.h>

#include "clock/pcclock.h"

void ReadPcClock(PcTime* reading) {
  struct __timeb64 now;
  _ftime64(&now);
  reading->time = (int64_t)now.time;
  reading->millitm = now.millitm;
  reading->timezone = now.timezone;
  reading->dstflag = now.dstflag;
}

void DescribePcZone(PcTime* reading) {
  // As _ftime64: the standard time's offset, and whether daylight-saving
  // time is in force, here at the reading's instant rather than now.
  _tzset();
  reading->timezone = (int16_t)(_timezone / 60);
  __time64_t when = (__time64_t)reading->time;
  struct tm local;
  reading->dstflag = (int16_t)(_localtime64_s(&local, &when) == 0 && local.tm_isdst > 0 ? 1 : 0);
}

uint32_t InvalidTimeErrorCode(void) { return ERROR_INVALID_PARAMETER; }
