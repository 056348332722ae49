// The PC clock: reading it with its time zone, and setting it.
//
// Each function has one implementation per platform. SetPcUtcTime is the
// program's only way to change the clock; the tests link a recording fake in
// its place.
#ifndef DCFSYNC_CLOCK_PCCLOCK_H
#define DCFSYNC_CLOCK_PCCLOCK_H

#include <stdint.h>

#include "clock/telegram.h"

// Reads the clock now: seconds and milliseconds since 1970 (UTC), the local
// standard time's offset in minutes west of UTC and the daylight-saving flag.
void ReadPcClock(PcTime* reading);

// Sets the zone fields of reading (timezone, dstflag) to what ReadPcClock
// gives at the instant reading->time (seconds since 1970, UTC) under the PC's
// time-zone rules; the other fields stay.
void DescribePcZone(PcTime* reading);

// Sets the PC clock to seconds and milliseconds since 1970, UTC. Returns 1 on
// success; 0 on failure with the system's error code in *errorCode, also for
// an instant the system cannot take (milliseconds outside 0..999, a time
// before 1970: EINVAL on POSIX, ERROR_INVALID_PARAMETER on Windows).
int SetPcUtcTime(int64_t seconds, int32_t milliseconds, uint32_t* errorCode);

// The error code SetPcUtcTime gives for an instant the system cannot take:
// EINVAL (22) on POSIX, ERROR_INVALID_PARAMETER (87) on Windows. The
// evaluation reports a telegram that names no real instant with it.
uint32_t InvalidTimeErrorCode(void);

#endif
