// The PC clock: reading it with its time zone, and setting local date and time.
//
// Each function has one implementation per platform. SetPcLocalTime is the
// program's only way to change the clock; the tests link a recording fake in
// its place.
#ifndef DCFSYNC_CLOCK_PCCLOCK_H
#define DCFSYNC_CLOCK_PCCLOCK_H

#include <stdint.h>

#include "clock/telegram.h"

// Local date and time to set, field by field as Windows' SYSTEMTIME.
struct LocalClockTime {
  uint16_t wYear;
  uint16_t wMonth;
  uint16_t wDayOfWeek;
  uint16_t wDay;
  uint16_t wHour;
  uint16_t wMinute;
  uint16_t wSecond;
  uint16_t wMilliseconds;
};

// Reads the clock now: seconds and milliseconds since 1970 (UTC), the local
// standard time's offset in minutes west of UTC and the daylight-saving flag.
void ReadPcClock(PcTime* reading);

// Sets the PC's local date and time. Returns 1 on success; 0 on failure with
// the system's error code in *errorCode.
int SetPcLocalTime(const LocalClockTime* when, uint32_t* errorCode);

#endif
