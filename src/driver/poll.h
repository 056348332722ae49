// One poll: the run's state, the pure decision about a frame (DecideFrame)
// and the shell that carries it out (the data line, the log lines, the
// feed, the discipline's command, the clock's set).
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

// Decides about a frame, pure: decoded (century from settings), its data
// line (a complete raw frame while WriteData is on), a line for each failed
// check, then DecideTelegram with the capture (the PC clock, UTC, when the
// module read its own clock for the frame) and captureMonoMs (MonotonicMs
// of the same instant); a frame rejected outright breaks the count and the
// chain instead. discipline: the running discipline's state, or NULL.
void DecideFrame(const unsigned char* frame, int32_t frameKind, const PcTime* capture,
                 int64_t captureMonoMs, const SettingsRecord* settings, RunState* run,
                 DisciplineState* discipline, PollDecision* decision);

// Carries a decision out in its order. The set: "Synchronizing time to"
// with the PC clock now plus the offset, in the PC's own zone, then
// SetPcUtcTime ("Can't set time! errno N" when refused).
void CarryOutDecision(const PollDecision* decision);

// DecideFrame with the settings and the running discipline, carried out.
void CarryOutFrame(RunState* run, const unsigned char* frame, int32_t frameKind,
                   const PcTime* capture, int64_t captureMonoMs);

// The frame that has just come from the port (ExchangeCommand), with the
// capture taken from the arrival of its last byte (AnswerCaptureTime),
// carried out by CarryOutFrame. frame holds at least the kind's bytes.
void CarryOutAnswer(RunState* run, const unsigned char* frame, int32_t frameKind);

// A poll whose answer came short: "Receive error!"; the state stays.
void CarryOutReceiveError(RunState* run);

#endif
