// Reading the PC clock on POSIX, and the error code of an impossible instant.
#include <errno.h>
#include <time.h>

#include "clock/pcclock.h"
#include "os/oscalls_posix.h"

void ReadPcClock(PcTime* reading) {
  struct timespec now = {};
  Os.Clock(CLOCK_REALTIME, &now);
  reading->time = (int64_t)now.tv_sec;
  reading->millitm = (uint16_t)(now.tv_nsec / 1000000);
}

int InvalidTimeErrorCode(void) { return EINVAL; }
