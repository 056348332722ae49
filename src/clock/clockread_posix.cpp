// Reading the PC clock on POSIX, and the error code of an impossible instant.
//
// ftime on glibc always reports time zone 0 and no daylight saving, so the
// zone fields are worked out from the local time rules: the daylight-saving
// flag from localtime, and the standard time's offset from an instant around
// the same date that lies outside daylight-saving time.
#include <errno.h>
#include <string.h>
#include <time.h>

#include "clock/clockread_posix.h"
#include "clock/pcclock.h"

void DescribeLocalZone(int64_t when, int16_t* minutesWest, int16_t* dstflag) {
  tzset();
  time_t t = (time_t)when;
  struct tm local;
  if (localtime_r(&t, &local) == NULL) {
    *minutesWest = 0;
    *dstflag = 0;
    return;
  }
  *dstflag = local.tm_isdst > 0 ? 1 : 0;
  long eastSeconds = local.tm_gmtoff;
  if (local.tm_isdst > 0) {
    // Daylight-saving time is never in force all year: look a quarter, half
    // and three quarters of a year away for standard time.
    eastSeconds -= 3600;
    static const int64_t offsets[] = {91, 182, 273, -91, -182, -273};
    for (int64_t days : offsets) {
      time_t other = (time_t)(when + days * 86400);
      struct tm probe;
      if (localtime_r(&other, &probe) != NULL && probe.tm_isdst == 0) {
        eastSeconds = probe.tm_gmtoff;
        break;
      }
    }
  }
  *minutesWest = (int16_t)(-eastSeconds / 60);
}

void ReadPcClock(PcTime* reading) {
  struct timespec now;
  memset(&now, 0, sizeof now);
  clock_gettime(CLOCK_REALTIME, &now);
  reading->time = (int64_t)now.tv_sec;
  reading->millitm = (uint16_t)(now.tv_nsec / 1000000);
  DescribeLocalZone(reading->time, &reading->timezone, &reading->dstflag);
}

void DescribePcZone(PcTime* reading) {
  DescribeLocalZone(reading->time, &reading->timezone, &reading->dstflag);
}

uint32_t InvalidTimeErrorCode(void) { return EINVAL; }
