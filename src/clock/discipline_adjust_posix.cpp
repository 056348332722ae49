// Adjusting the PC clock's rate on POSIX (Linux): clock_adjtime's ADJ_FREQUENCY (ppm
// scaled by 2^16) and single-shot slew (µs), never the kernel's own loop.
#include <errno.h>
#include <math.h>
#include <sys/timex.h>
#include <time.h>

#include "clock/discipline_adjust.h"
#include "os/oscalls_posix.h"

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
