// The PC clock at the moment a module read its own clock for an answer.
#include "clock/capture.h"

#include "clock/calendar.h"

void AnswerCaptureTime(const PcTime* pcNow, int64_t monotonicNowMs, int64_t lastByteMs,
                       int32_t frameBytes, int32_t baud, PcTime* capture,
                       int64_t* captureMonoMs) {
  int64_t back = 0;  // µs back from the reading: since the last byte, then the wire time
  if (lastByteMs > 0 && lastByteMs <= monotonicNowMs) back += (monotonicNowMs - lastByteMs) * 1000;
  if (frameBytes > 0 && baud > 0) back += (int64_t)frameBytes * LineBitsPerByte * 1000000 / baud;
  back += ModuleResolutionMs * 1000 / 2;
  int64_t ms = FloorDivide((int64_t)pcNow->millitm * 1000 - back + 500, 1000);  // nearest ms
  int64_t seconds = FloorDivide(ms, 1000);
  capture->time = pcNow->time + seconds;
  capture->millitm = (uint16_t)(ms - seconds * 1000);
  *captureMonoMs = monotonicNowMs + (ms - pcNow->millitm);
}
