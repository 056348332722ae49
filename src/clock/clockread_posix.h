// POSIX clock reading helpers, exposed for their tests.
#ifndef DCFSYNC_CLOCK_CLOCKREAD_POSIX_H
#define DCFSYNC_CLOCK_CLOCKREAD_POSIX_H

#include <stdint.h>

// Time-zone fields as ftime would give them at the instant when (seconds since
// 1970, UTC) under the current TZ rules: *minutesWest the standard time's offset
// in minutes west of UTC (-60 for Central Europe, summer and winter alike),
// *dstflag 1 while daylight-saving time is in effect, else 0.
void DescribeLocalZone(int64_t when, int16_t* minutesWest, int16_t* dstflag);

#endif
