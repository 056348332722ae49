// The moment of a module's answer on the PC clock: the module reads its own
// clock when it builds an answer, which then takes its time on the wire, and
// the program reads the PC clock a while after the last byte came.
#ifndef DCFSYNC_CLOCK_CAPTURE_H
#define DCFSYNC_CLOCK_CAPTURE_H

#include <stdint.h>

#include "clock/telegram.h"

enum {
  LineBitsPerByte = 10,      // start bit, 8 data bits, stop bit
  ModuleResolutionMs = 10    // the module's clock counts hundredths
};

// The PC clock, into *capture, and the monotonic clock, into *captureMonoMs,
// at the moment the module read its own clock for an answer of frameBytes
// bytes at baud, rounded to the millisecond:
//
//   capture = pcNow - (monotonicNowMs - lastByteMs)      time since the last byte
//                   - frameBytes x 10 / baud             the answer on the wire
//                   - ModuleResolutionMs / 2             the module's cut hundredths
//
// The module cuts its time to whole hundredths, on average 5 ms before the
// moment it read; the last term takes the capture back the same way, so the
// difference of the two is the PC clock's error alone. pcNow and
// monotonicNowMs are read together; lastByteMs is the last byte's monotonic
// time (PortLastByteMs). A lastByteMs of 0 or less, or after monotonicNowMs,
// counts as now; a baud or frameBytes of 0 or less adds no wire time.
void AnswerCaptureTime(const PcTime* pcNow, int64_t monotonicNowMs, int64_t lastByteMs,
                       int32_t frameBytes, int32_t baud, PcTime* capture,
                       int64_t* captureMonoMs);

#endif
