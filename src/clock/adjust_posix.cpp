// Adjusting the PC clock's rate on POSIX (Linux): clock_adjtime on
// CLOCK_REALTIME, the frequency with ADJ_FREQUENCY (ppm scaled by 2^16), the
// offset with the kernel's single-shot slew (ADJ_OFFSET_SINGLESHOT, in
// microseconds), never the kernel's own loop, through the system-call
// table (Os.AdjustClock). Needs CAP_SYS_TIME; without it
// the system's error number is reported.
#include <errno.h>
#include <math.h>
#include <string.h>
#include <sys/timex.h>
#include <time.h>

#include "clock/adjust.h"
#include "os/oscalls_posix.h"

static uint32_t Adjust(struct timex* request) {
  if (Os.AdjustClock(CLOCK_REALTIME, request) >= 0) return 0;
  return errno != 0 ? (uint32_t)errno : (uint32_t)EIO;
}

static uint32_t SetFrequency(double frequencyPpm) {
  struct timex request;
  memset(&request, 0, sizeof request);
  request.modes = ADJ_FREQUENCY;
  request.freq = (long)llround(frequencyPpm * 65536.0);
  return Adjust(&request);
}

static uint32_t Slew(double slewMs) {
  struct timex request;
  memset(&request, 0, sizeof request);
  request.modes = ADJ_OFFSET_SINGLESHOT;
  // The kernel slews the clock forward by a positive offset: a clock ahead
  // is slewed back.
  request.offset = (long)llround(-slewMs * 1000.0);
  return Adjust(&request);
}

uint32_t AdjustPcClock(double frequencyPpm, double slewMs, double slewRatePpm) {
  (void)slewRatePpm;
  uint32_t code = SetFrequency(frequencyPpm);
  return code != 0 ? code : Slew(slewMs);
}

uint32_t EndPcClockSlew(double frequencyPpm) {
  (void)frequencyPpm;  // stays as it was put
  return Slew(0.0);
}

SlewStyle PcClockSlewStyle(void) { return SlewAtKernelRate; }
