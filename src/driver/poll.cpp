// The shell of one poll. See poll.h.
#include "driver/poll.h"

#include <string.h>

#include "clock/capture.h"
#include "clock/pcclock.h"
#include "config/settings.h"
#include "decode/decode.h"
#include "link/port.h"
#include "log/log.h"
#include "os/monotonic.h"

void ResetRunState(RunState* run) {
  memset(run, 0, sizeof *run);
  ResetReception(&run->reception);
}

void CarryOutFrame(RunState* run, const unsigned char* frame, int32_t frameKind,
                   const PcTime* capture, int64_t captureMonoMs) {
  (void)captureMonoMs;
  DecodeFrame(frame, frameKind == FrameRaw, capture, &run->counting);
}

void CarryOutAnswer(RunState* run, const unsigned char* frame, int32_t frameKind) {
  // Both clocks read together, the PC clock first.
  PcTime now;
  ReadPcClock(&now);
  int64_t monotonic = MonotonicMs();
  int32_t bytes = frameKind == FrameRaw ? RawTelegramFrameSize : DecodedTimeFrameSize;
  PcTime capture;
  AnswerCaptureTime(&now, monotonic, PortLastByteMs(), bytes, Settings.baud, &capture);
  DescribePcZone(&capture);
  int64_t back = (now.time - capture.time) * 1000 + (int64_t)now.millitm - capture.millitm;
  CarryOutFrame(run, frame, frameKind, &capture, monotonic - back);
}

void CarryOutReceiveError(RunState* run) {
  (void)run;
  LogMessage("Receive error!");
}
