// The monotonic clock on Windows: the performance counter (GetTickCount64 is too coarse).
#include "os/monotonic.h"
#include "os/oscalls_win32.h"

static int64_t CounterFrequency(void) {
  LARGE_INTEGER frequency;
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) return 1000;
  return (int64_t)frequency.QuadPart;
}

int64_t MonotonicReadingMs(void) {
  static const int64_t frequency = CounterFrequency();  // fixed while the system runs
  LARGE_INTEGER now;
  now.QuadPart = 0;
  Os.QueryPerformanceCounter(&now);
  int64_t count = (int64_t)now.QuadPart;
  return count / frequency * 1000 + count % frequency * 1000 / frequency;
}

// The counter does not fail on any Windows the program runs on: no carry.
int64_t MonotonicMs(void) { return MonotonicReadingMs(); }
void ResetMonotonic(void) {}
