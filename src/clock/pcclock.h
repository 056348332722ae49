// The PC clock, read and set in UTC through the system-call table; SetPcUtcTime
// is the program's only way to step it.
#ifndef DCFSYNC_CLOCK_PCCLOCK_H
#define DCFSYNC_CLOCK_PCCLOCK_H

#include <stdint.h>

#include "clock/telegram.h"

void ReadPcClock(PcTime* reading);
// Returns 0, or the system's error number; InvalidTimeErrorCode for an instant
// the system cannot take (before 1970, milliseconds outside 0..999).
int SetPcUtcTime(int64_t seconds, int32_t milliseconds);
int InvalidTimeErrorCode(void);  // EINVAL on POSIX, ERROR_INVALID_PARAMETER on Windows

#endif
