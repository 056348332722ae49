// The pulse receiver's poll: the line's changes into the decoder, its
// minutes out as raw frames.
#include "driver/pulse.h"

#include "clock/calendar.h"
#include "clock/pcclock.h"
#include "config/settings.h"
#include "driver/poll.h"
#include "link/port.h"
#include "log/log.h"
#include "os/monotonic.h"
#include "os/wake.h"

enum { PulsePollMs = 180000, PulseSilenceMs = 10000, PulseSliceMs = 1000 };

static const char LineNames[4][4] = {"DCD", "CTS", "DSR", "RI"};

static void HandOn(const PulseOutput* out, RunState* run) {
  int64_t ms = FloorDivide(out->captureWallUs + 500, 1000);
  PcTime capture;
  capture.time = FloorDivide(ms, 1000);
  capture.millitm = (uint16_t)(ms - capture.time * 1000);
  CarryOutFrame(run, out->frame, FrameRaw, &capture, out->captureMonoMs);
}

void PulsePoll(RunState* run) {
  PulseListener* listener = &run->listener;
  int index = PulseLineIndex(Settings.PulseLine);
  int32_t line = index < 0 ? PulseLineDcd : index;
  const char* name = LineNames[line];
  const int64_t start = MonotonicMs();
  if (!listener->started) {
    PulseDecoderStart(&listener->decoder, Settings.PulseInvert, Settings.PulseDelay);
    listener->started = 1;
    listener->silenceTold = listener->invertTold = listener->watchTold = 0;
    listener->lastEdgeMs = start;
  }
  for (;;) {
    TendClockLoop(&run->loop);  // every second at most, as in the countdown
    TendHealth(run);
    int64_t now = MonotonicMs();
    if (now - start >= PulsePollMs) {
      LogMessage("Receive error!");
      return;
    }
    if (now - listener->lastEdgeMs >= PulseSilenceMs && !listener->silenceTold) {
      LogMessage("No pulse on %s for 10 s", name);
      listener->silenceTold = 1;
    }
    PulseEdge edge;
    int code = WaitLineChange(line, PulseSliceMs, &edge.monoMs, &edge.wallUs, &edge.level);
    if (WakeRequested()) return;
    if (code != 0) {
      if (!listener->watchTold) LogMessage("Can't watch %s! errno %d", name, code);
      listener->watchTold = 1;
      if (WaitForWake(PulseSliceMs)) return;
      continue;
    }
    if (edge.level < 0) continue;
    listener->lastEdgeMs = edge.monoMs;
    listener->silenceTold = 0;
    PulseOutput out;
    int got = FeedPulseEdge(&listener->decoder, &edge, &out);
    if (listener->decoder.invert != (Settings.PulseInvert != 0) && !listener->invertTold) {
      LogMessage("Pulses on %s look inverted, taken as PulseInvert=%d", name,
                 (int)listener->decoder.invert);
      listener->invertTold = 1;
    }
    if (!got) continue;
    if (out.minuteEnded) {
      LogMessage("Reception: %d pulses, %d glitches, 0s %d ms, 1s %d ms",
                 (int)out.quality.pulses, (int)out.quality.glitches, (int)out.quality.zeroMs,
                 (int)out.quality.oneMs);
    }
    if (out.telegram) {
      HandOn(&out, run);
      return;
    }
  }
}
