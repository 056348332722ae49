// The moment of a module's answer on the PC clock.
#ifndef DCFSYNC_CLOCK_CAPTURE_H
#define DCFSYNC_CLOCK_CAPTURE_H

#include <stdint.h>

#include "clock/telegram.h"

enum {
  LineBitsPerByte = 10,    // start bit, 8 data bits, stop bit
  ModuleResolutionMs = 10  // the module's clock counts hundredths
};

// The PC clock (*capture) and the monotonic clock (*captureMonoMs), to the ms, when
// the module read its clock for an answer of frameBytes at baud: pcNow less the time
// since the last byte (none if lastByteMs <= 0 or after monotonicNowMs), the time on
// the wire (none if either is 0 or less), and the hundredths' average cut.
void AnswerCaptureTime(const PcTime* pcNow, int64_t monotonicNowMs, int64_t lastByteMs,
                       int32_t frameBytes, int32_t baud, PcTime* capture,
                       int64_t* captureMonoMs);

#endif
