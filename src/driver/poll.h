// One poll: the run's state, the pure decision about a frame and the shell
// that carries it out.
#ifndef DCFSYNC_DRIVER_POLL_H
#define DCFSYNC_DRIVER_POLL_H

#include <stdint.h>

#include "clock/evaluate.h"
#include "clock/reception.h"
#include "clock/telegram.h"
#include "driver/discipline_shell.h"
#include "driver/health.h"
#include "driver/pulse.h"

// What the run remembers from one poll to the next: owned by RunProgram,
// passed down.
struct RunState {
  CountingState counting;    // ContValidTime and the last counted telegram
  ChainState chain;          // the counted telegrams that agree with each other
  ReceptionState reception;  // starting, in step, holding over, lost
  HealthRecord health;       // what the service manager is told
  DisciplineLoop loop;       // the clock discipline, when it runs
  PulseListener listener;    // the pulse receiver's decoder
};

// As at the run's start: nothing counted, no chain, no loop, no listener.
void ResetRunState(RunState* run);

enum FrameKind {
  FrameRaw = 0,         // the 26-byte raw telegram frame
  FrameDecodedTime = 1  // the 10-byte decoded-time frame
};

// Pure: decodes frame (century from settings); its data line (a complete
// raw frame, WriteData on), a line per failed check, then DecideTelegram
// with capture (the PC clock, UTC, when the module read its own) and
// captureMonoMs (MonotonicMs then). A rejected frame breaks the count and
// the chain. discipline: the running loop's state, or NULL.
void DecideFrame(const unsigned char* frame, int32_t frameKind, const PcTime* capture,
                 int64_t captureMonoMs, const SettingsRecord* settings, RunState* run,
                 DisciplineState* discipline, PollDecision* decision);

// Carries decision out in its order: data line, lines, feed, discipline's
// command, set ("Synchronizing time to" in the PC's zone, then the set).
void CarryOutDecision(RunState* run, const PollDecision* decision);

// DecideFrame with Settings and the running loop, carried out.
void CarryOutFrame(RunState* run, const unsigned char* frame, int32_t frameKind,
                   const PcTime* capture, int64_t captureMonoMs);

// A frame just received (ExchangeCommand), captured at its last byte's
// arrival, carried out by CarryOutFrame.
void CarryOutAnswer(RunState* run, const unsigned char* frame, int32_t frameKind);

#endif
