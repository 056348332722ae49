// One poll carried out: the run's state, and the entries through which a
// frame (with its capture) or a failed exchange becomes the poll's log
// lines, data line, feed sample and clock set or adjustment.
#ifndef DCFSYNC_DRIVER_POLL_H
#define DCFSYNC_DRIVER_POLL_H

#include <stdint.h>

#include "clock/evaluate.h"
#include "clock/reception.h"
#include "clock/telegram.h"

// What the run remembers from one poll to the next; owned by the driver,
// passed down.
struct RunState {
  CountingState counting;  // ContValidTime and the last counted telegram
  ChainState chain;        // the counted telegrams that agree with each other
  ReceptionState reception; // starting, in step, holding over, lost (driver/health.h)
};

// All clear: nothing counted, no chain, as at the run's start.
void ResetRunState(RunState* run);

// The kinds of frame a poll can bring.
enum FrameKind {
  FrameRaw = 0,         // the 26-byte raw telegram frame
  FrameDecodedTime = 1  // the 10-byte decoded-time frame
};

// Carries one frame out: decoded, its data line (raw, WriteData on), its
// checks' lines, the telegram's lines, the feed, and the clock's set or
// adjustment. capture is the PC clock (UTC) when the module read its own
// clock for the frame, captureMonoMs the MonotonicMs (os/monotonic.h) of the
// same instant.
void CarryOutFrame(RunState* run, const unsigned char* frame, int32_t frameKind,
                   const PcTime* capture, int64_t captureMonoMs);

// The frame that has just come from the port (ExchangeCommand), with the
// capture taken from the arrival of its last byte (AnswerCaptureTime),
// carried out by CarryOutFrame.
void CarryOutAnswer(RunState* run, const unsigned char* frame, int32_t frameKind);

// A poll whose answer came short: "Receive error!"; the state stays.
void CarryOutReceiveError(RunState* run);

#endif
