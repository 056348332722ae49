// Adjusting the PC clock's rate on POSIX (Linux): clock_adjtime on
// CLOCK_REALTIME, the frequency with ADJ_FREQUENCY (ppm scaled by 2^16), the
// offset with the kernel's single-shot slew (ADJ_OFFSET_SINGLESHOT, in
// microseconds), never the kernel's own loop. Needs CAP_SYS_TIME; without it
// the system's error number is reported.
#include <errno.h>
#include <math.h>
#include <string.h>
#include <sys/timex.h>
#include <time.h>

#include "clock/adjust.h"

static int Adjust(struct timex* request, uint32_t* errorCode) {
  if (clock_adjtime(CLOCK_REALTIME, request) >= 0) return 1;
  *errorCode = (uint32_t)errno;
  return 0;
}

static int SetFrequency(double frequencyPpm, uint32_t* errorCode) {
  struct timex request;
  memset(&request, 0, sizeof request);
  request.modes = ADJ_FREQUENCY;
  request.freq = (long)llround(frequencyPpm * 65536.0);
  return Adjust(&request, errorCode);
}

static int Slew(double slewMs, uint32_t* errorCode) {
  struct timex request;
  memset(&request, 0, sizeof request);
  request.modes = ADJ_OFFSET_SINGLESHOT;
  // The kernel slews the clock forward by a positive offset: a clock ahead
  // is slewed back.
  request.offset = (long)llround(-slewMs * 1000.0);
  return Adjust(&request, errorCode);
}

int AdjustPcClock(double frequencyPpm, double slewMs, double slewRatePpm, uint32_t* errorCode) {
  (void)slewRatePpm;
  return SetFrequency(frequencyPpm, errorCode) && Slew(slewMs, errorCode);
}

int EndPcClockSlew(double frequencyPpm, uint32_t* errorCode) {
  (void)frequencyPpm;  // stays as it was put
  return Slew(0.0, errorCode);
}

SlewStyle PcClockSlewStyle(void) { return SlewAtKernelRate; }
