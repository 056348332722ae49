// The PC clock, read and set in UTC; one implementation per platform,
// through its system-call table (os/oscalls_*.h), where the tests put a
// recorder in place of the set. SetPcUtcTime is the program's only way to
// step the clock.
#ifndef DCFSYNC_CLOCK_PCCLOCK_H
#define DCFSYNC_CLOCK_PCCLOCK_H

#include <stdint.h>

#include "clock/telegram.h"

// The clock now: seconds and milliseconds since 1970 (UTC).
void ReadPcClock(PcTime* reading);

// Sets the clock to seconds and milliseconds since 1970, UTC. Returns 0, or
// the system's error number, also for an instant the system cannot take
// (milliseconds outside 0..999, before 1970): InvalidTimeErrorCode.
int SetPcUtcTime(int64_t seconds, int32_t milliseconds);

// EINVAL (22) on POSIX, ERROR_INVALID_PARAMETER (87) on Windows.
int InvalidTimeErrorCode(void);

#endif
