// Setting the PC clock on POSIX: the local date and time become seconds since
// 1970 through the local time rules, then CLOCK_REALTIME is set. Needs the
// privilege to set the clock (CAP_SYS_TIME); without it the system's error
// number is reported.
#include <errno.h>
#include <string.h>
#include <time.h>

#include "clock/pcclock.h"

int SetPcLocalTime(const LocalClockTime* when, uint32_t* errorCode) {
  struct tm local;
  memset(&local, 0, sizeof local);
  local.tm_year = when->wYear - 1900;
  local.tm_mon = when->wMonth - 1;
  local.tm_mday = when->wDay;
  local.tm_hour = when->wHour;
  local.tm_min = when->wMinute;
  local.tm_sec = when->wSecond;
  local.tm_isdst = -1;  // let the time zone rules decide
  // Refuse what SetLocalTime refuses rather than let mktime normalise it.
  if (when->wMonth < 1 || when->wMonth > 12 || when->wDay < 1 || when->wDay > 31 ||
      when->wHour > 23 || when->wMinute > 59 || when->wSecond > 59 ||
      when->wMilliseconds > 999) {
    *errorCode = EINVAL;
    return 0;
  }
  errno = 0;
  time_t seconds = mktime(&local);
  if (seconds == (time_t)-1 && errno != 0) {
    *errorCode = (uint32_t)errno;
    return 0;
  }
  struct timespec value;
  value.tv_sec = seconds;
  value.tv_nsec = (long)when->wMilliseconds * 1000000L;
  int ok = clock_settime(CLOCK_REALTIME, &value) == 0;
  if (!ok) *errorCode = (uint32_t)errno;
  return ok ? 1 : 0;
}
