// Setting the PC clock on POSIX: CLOCK_REALTIME set to the UTC instant, never through
// local time (which names some local times twice and others never).
#include <errno.h>
#include <time.h>

#include "clock/pcclock.h"
#include "os/oscalls_posix.h"

int SetPcUtcTime(int64_t seconds, int32_t milliseconds) {
  if (seconds < 0 || milliseconds < 0 || milliseconds > 999 ||
      (int64_t)(time_t)seconds != seconds) {
    return InvalidTimeErrorCode();
  }
  struct timespec value;
  value.tv_sec = (time_t)seconds;
  value.tv_nsec = (long)milliseconds * 1000000L;
  if (Os.SetClock(CLOCK_REALTIME, &value) == 0) return 0;
  return errno != 0 ? errno : EIO;
}
