// Preloaded into the program by the end-to-end tests: shifts every reading
// of the wall clock (CLOCK_REALTIME and its coarse form through
// clock_gettime, gettimeofday, time) by the whole milliseconds in
// DCFSYNC_CLOCK_SHIFT_MS, so the program runs as on a PC whose clock shows
// another time, e.g. just before a change of daylight-saving time. The
// monotonic clocks stay as they are. Without the variable nothing shifts.
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

static long long ShiftNs;  // read once, when the library is loaded

__attribute__((constructor)) static void ReadShift(void) {
  const char* text = getenv("DCFSYNC_CLOCK_SHIFT_MS");
  ShiftNs = text != NULL ? strtoll(text, NULL, 10) * 1000000LL : 0;
}

static void Shift(struct timespec* t) {
  long long ns = (long long)t->tv_sec * 1000000000LL + t->tv_nsec + ShiftNs;
  long long seconds = ns / 1000000000LL;
  long long rest = ns % 1000000000LL;
  if (rest < 0) {
    rest += 1000000000LL;
    seconds -= 1;
  }
  t->tv_sec = (time_t)seconds;
  t->tv_nsec = (long)rest;
}

extern "C" int clock_gettime(clockid_t clock, struct timespec* now) {
  long result = syscall(SYS_clock_gettime, clock, now);
  if (result == 0 && (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE)) Shift(now);
  return (int)result;
}

extern "C" int gettimeofday(struct timeval* now, void* zone) {
  (void)zone;
  struct timespec t;
  if (clock_gettime(CLOCK_REALTIME, &t) != 0) return -1;
  now->tv_sec = t.tv_sec;
  now->tv_usec = (suseconds_t)(t.tv_nsec / 1000);
  return 0;
}

extern "C" time_t time(time_t* now) {
  struct timespec t;
  if (clock_gettime(CLOCK_REALTIME, &t) != 0) return (time_t)-1;
  if (now != NULL) *now = t.tv_sec;
  return t.tv_sec;
}
