// The program's one monotonic clock: milliseconds that only move forward,
// whatever happens to the PC clock, counting the time the system was
// suspended where it has such a clock (CLOCK_BOOTTIME; else CLOCK_MONOTONIC;
// the performance counter on Windows). It paces the
// port, the waits and the discipline, and dates each capture. One
// implementation per platform, through the system-call table.
#ifndef DCFSYNC_OS_MONOTONIC_H
#define DCFSYNC_OS_MONOTONIC_H

#include <stdint.h>

// The clock now. A failed reading counts as a second gone by since the last
// value, and the next good reading goes on from there, never back; so a
// failing clock neither stretches a deadline nor stops it. Main flow only.
int64_t MonotonicMs(void);

// One reading of the same clock without the carry past failures (0 when it
// fails); safe in a signal handler or another thread.
int64_t MonotonicReadingMs(void);

// Forgets the carry past failed readings (tests).
void ResetMonotonic(void);

#endif
