// The capture of an answer: the PC clock when the module read its own clock.
#include "clock/capture.h"
#include "clock/pcclock.h"
#include "config/settings.h"
#include "decode/decode.h"
#include "link/port.h"
#include "os/monotonic.h"

void CaptureAnswerTime(PcTime* capture, int32_t frameBytes) {
  // Both clocks read together, the PC clock first.
  PcTime now;
  ReadPcClock(&now);
  int64_t monotonic = MonotonicMs();
  AnswerCaptureTime(&now, monotonic, PortLastByteMs(), frameBytes, Settings.baud, capture);
  DescribePcZone(capture);
}
