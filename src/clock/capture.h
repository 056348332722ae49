// The moment of a module's answer on the PC clock.
//
// The module reads its own clock when it builds an answer. The answer then
// takes its time on the wire, and the program reads the PC clock only a while
// after the last byte came (the read waits for silence, the dump is logged).
// AnswerCaptureTime takes a reading of the PC clock back to the moment the
// module read its clock, so that the two clocks are compared at one instant.
#ifndef DCFSYNC_CLOCK_CAPTURE_H
#define DCFSYNC_CLOCK_CAPTURE_H

#include <stdint.h>

#include "clock/telegram.h"

enum {
  LineBitsPerByte = 10,      // start bit, 8 data bits, stop bit
  ModuleResolutionMs = 10    // the module's clock counts hundredths
};

// Fills *capture with the PC clock at the moment the module read its own
// clock for an answer of frameBytes bytes sent at baud bits per second, less
// the part of a hundredth the module's time leaves out:
//
//   capture = pcNow - (monotonicNowMs - lastByteMs)      time since the last byte
//                   - frameBytes x 10 / baud             the answer on the wire
//                   - ModuleResolutionMs / 2             the module's cut hundredths
//
// rounded to the millisecond. The module sends its time cut to whole
// hundredths, on average 5 ms before the moment it read; the last term takes
// the capture back the same way, so that the difference between the two is
// the PC clock's error alone. pcNow and monotonicNowMs are readings of the PC
// clock and of the port's monotonic clock taken together; lastByteMs is the
// monotonic time of the answer's last byte (PortLastByteMs). A lastByteMs of
// 0 or less, or later than monotonicNowMs, is no known arrival and counts as
// now; a baud or frameBytes of 0 or less adds no wire time. The zone fields
// are copied from pcNow: the caller gives them for the capture's instant.
void AnswerCaptureTime(const PcTime* pcNow, int64_t monotonicNowMs, int64_t lastByteMs,
                       int32_t frameBytes, int32_t baud, PcTime* capture);

#endif
