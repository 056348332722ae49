// A reading of the PC clock, and the telegram a decoder makes of a frame.
#ifndef DCFSYNC_CLOCK_TELEGRAM_H
#define DCFSYNC_CLOCK_TELEGRAM_H

#include <stdint.h>

struct PcTime {
  int64_t time;      // seconds since 1970-01-01 00:00 UTC
  uint16_t millitm;  // milliseconds 0..999
};

struct TimeTelegram {
  PcTime capture;   // the PC clock when the module read its own clock for the answer
  int32_t R;        // call bit
  int32_t A1;       // announcement of a change between CET and CEST
  int32_t Z1, Z2;   // CEST, CET in effect
  int32_t A2;       // leap-second announcement
  int32_t S;        // start of the time information
  int32_t hour, minute, second, millisecond;
  int32_t day, month;
  int32_t year;     // four digits, century added
  int32_t weekday;  // 1 Monday .. 7 Sunday, 0 unknown
  int32_t valid;    // non-zero when every check of the decoder passed
};

#endif
