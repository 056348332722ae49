// The PC clock on POSIX: CLOCK_REALTIME read and set in UTC, never through local time
// (which names some local times twice and others never); its rate adjusted with
// clock_adjtime's ADJ_FREQUENCY (ppm scaled by 2^16) and single-shot slew (µs), never
// the kernel's own loop.
#include <errno.h>
#include <math.h>
#include <sys/timex.h>
#include <time.h>

#include "clock/discipline_adjust.h"
#include "clock/pcclock.h"
#include "os/oscalls_posix.h"

void ReadPcClock(PcTime* reading) {
  struct timespec now = {};
  Os.Clock(CLOCK_REALTIME, &now);
  reading->time = (int64_t)now.tv_sec;
  reading->millitm = (uint16_t)(now.tv_nsec / 1000000);
}

int InvalidTimeErrorCode(void) { return EINVAL; }

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

static int Adjust(unsigned modes, long value) {
  struct timex request = {};
  request.modes = modes;
  if (modes == ADJ_FREQUENCY) request.freq = value;
  else request.offset = value;
  if (Os.AdjustClock(CLOCK_REALTIME, &request) >= 0) return 0;
  return errno != 0 ? errno : EIO;
}

int PreparePcClockAdjust(void) { return 0; }

int AdjustPcClock(double frequencyPpm, double slewMs, double /*slewRatePpm: the kernel's*/) {
  int code = Adjust(ADJ_FREQUENCY, (long)llround(frequencyPpm * 65536.0));
  // The kernel slews the clock forward by a positive offset.
  return code != 0 ? code : Adjust(ADJ_OFFSET_SINGLESHOT, (long)llround(-slewMs * 1000.0));
}

int EndPcClockSlew(double /*frequencyPpm: stays as it was put*/) {
  return Adjust(ADJ_OFFSET_SINGLESHOT, 0);
}

SlewStyle PcClockSlewStyle(void) { return SlewAtKernelRate; }
