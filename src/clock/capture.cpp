// The PC clock at the moment a module read its own clock for an answer.
#include "clock/capture.h"

// Division rounding towards minus infinity.
static int64_t FloorDivide(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

void AnswerCaptureTime(const PcTime* pcNow, int64_t monotonicNowMs, int64_t lastByteMs,
                       int32_t frameBytes, int32_t baud, PcTime* capture) {
  // Microseconds to add to the reading's whole seconds.
  int64_t us = (int64_t)pcNow->millitm * 1000;
  // Since the last byte came: the silence that ended the read, the dump line
  // and whatever else ran before the PC clock was read.
  if (lastByteMs > 0 && lastByteMs <= monotonicNowMs) us -= (monotonicNowMs - lastByteMs) * 1000;
  // The whole answer on the wire, sent from the moment the module read its clock.
  if (frameBytes > 0 && baud > 0) us -= (int64_t)frameBytes * LineBitsPerByte * 1000000 / baud;
  // The answer carries the module's time cut to whole hundredths: on average
  // it names a moment half a hundredth before the module read its clock.
  us -= ModuleResolutionMs * 1000 / 2;

  int64_t ms = FloorDivide(us + 500, 1000);  // to the nearest millisecond
  int64_t seconds = FloorDivide(ms, 1000);
  *capture = *pcNow;
  capture->time = pcNow->time + seconds;
  capture->millitm = (uint16_t)(ms - seconds * 1000);
}
