// The program's one monotonic clock in ms, through the system-call table: CLOCK_BOOTTIME
// (counting suspended time) where it exists, else CLOCK_MONOTONIC; the performance counter
// on Windows.
#ifndef DCFSYNC_OS_MONOTONIC_H
#define DCFSYNC_OS_MONOTONIC_H

#include <stdint.h>

// The clock now. A failed reading counts as a second since the last value, and later readings
// go on from there, never back. Main flow only.
int64_t MonotonicMs(void);

// One reading without that carry (0 when it fails); safe in a signal handler.
int64_t MonotonicReadingMs(void);

// Forgets the carry (tests).
void ResetMonotonic(void);

#endif
