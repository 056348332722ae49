// The monotonic clock on POSIX, through the system-call table.
#include <string.h>
#include <time.h>

#include "os/monotonic.h"
#include "os/oscalls_posix.h"

#ifdef CLOCK_BOOTTIME
static const clockid_t MonotonicClock = CLOCK_BOOTTIME;
#else
static const clockid_t MonotonicClock = CLOCK_MONOTONIC;
#endif

// What MonotonicMs carries past failed readings.
static struct {
  int64_t lastMs;    // the value returned last
  int64_t offsetMs;  // added to readings after a failure, so they never go back
  int failed;        // the last reading failed
} Carry;

void ResetMonotonic(void) { memset(&Carry, 0, sizeof Carry); }

static int Read(int64_t* ms) {
  struct timespec now;
  memset(&now, 0, sizeof now);
  if (Os.Clock(MonotonicClock, &now) != 0) return -1;
  *ms = (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
  return 0;
}

int64_t MonotonicReadingMs(void) {
  int64_t ms = 0;
  return Read(&ms) == 0 ? ms : 0;
}

int64_t MonotonicMs(void) {
  int64_t ms = 0;
  if (Read(&ms) != 0) {
    ms = Carry.lastMs + 1000;
    Carry.failed = 1;
  } else {
    ms += Carry.offsetMs;
    if (Carry.failed && ms < Carry.lastMs) {
      Carry.offsetMs += Carry.lastMs - ms;
      ms = Carry.lastMs;
    }
    Carry.failed = 0;
  }
  Carry.lastMs = ms;
  return ms;
}
