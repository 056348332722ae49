// The pulse receiver's poll: the line's changes into the decoder, its
// minutes out as raw frames.
#include "driver/pulse.h"

#include "clock/calendar.h"
#include "clock/pcclock.h"
#include "config/settings.h"
#include "decode/pulse.h"
#include "driver/discipline_shell.h"
#include "driver/health.h"
#include "link/port.h"
#include "log/log.h"
#include "os/monotonic.h"
#include "os/wake.h"

enum { PulsePollMs = 180000, PulseSilenceMs = 10000, PulseSliceMs = 1000 };

static const char LineNames[4][4] = {"DCD", "CTS", "DSR", "RI"};

// The listener's record: the decoder, when the line moved last, what was said.
static struct {
  PulseDecoder decoder;
  int32_t started;
  int64_t lastEdgeMs;
  int32_t silenceTold, invertTold, watchTold;
} Listener;

void ResetPulseListener(void) { Listener.started = 0; }

static void HandOn(const PulseOutput* out, RunState* run) {
  int64_t ms = FloorDivide(out->captureWallUs + 500, 1000);
  PcTime capture;
  capture.time = FloorDivide(ms, 1000);
  capture.millitm = (uint16_t)(ms - capture.time * 1000);
  CarryOutFrame(run, out->frame, FrameRaw, &capture, out->captureMonoMs);
}

void PulsePoll(RunState* run) {
  int index = PulseLineIndex(Settings.PulseLine);
  int32_t line = index < 0 ? PulseLineDcd : index;
  const char* name = LineNames[line];
  const int64_t start = MonotonicMs();
  if (!Listener.started) {
    PulseDecoderStart(&Listener.decoder, Settings.PulseInvert, Settings.PulseDelay);
    Listener.started = 1;
    Listener.silenceTold = Listener.invertTold = Listener.watchTold = 0;
    Listener.lastEdgeMs = start;
  }
  for (;;) {
    TendClockLoop();  // every second at most, as in the countdown
    TendHealth(run);
    int64_t now = MonotonicMs();
    if (now - start >= PulsePollMs) {
      CarryOutReceiveError(run);
      return;
    }
    if (now - Listener.lastEdgeMs >= PulseSilenceMs && !Listener.silenceTold) {
      LogMessage("No pulse on %s for 10 s", name);
      Listener.silenceTold = 1;
    }
    PulseEdge edge;
    int code = WaitLineChange(line, PulseSliceMs, &edge.monoMs, &edge.wallUs, &edge.level);
    if (WakeRequested()) return;
    if (code != 0) {
      if (!Listener.watchTold) LogMessage("Can't watch %s! errno %d", name, code);
      Listener.watchTold = 1;
      if (WaitForWake(PulseSliceMs)) return;
      continue;
    }
    if (edge.level < 0) continue;
    Listener.lastEdgeMs = edge.monoMs;
    Listener.silenceTold = 0;
    PulseOutput out;
    int got = FeedPulseEdge(&Listener.decoder, &edge, &out);
    if (Listener.decoder.invert != (Settings.PulseInvert != 0) && !Listener.invertTold) {
      LogMessage("Pulses on %s look inverted, taken as PulseInvert=%d", name,
                 (int)Listener.decoder.invert);
      Listener.invertTold = 1;
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
