// The poll of a pulse receiver (Receiver=1): listens on Settings.PulseLine
// (DCD unless CTS, DSR or RI) until the decoder brings a complete minute,
// carried out as a raw frame (CarryOutFrame); "Receive error!" after three
// minutes without one. Logs each minute's reception and, once each, a line
// silent for 10 s, widths that look inverted, a line it cannot watch.
// Returns at once on Ctrl-C.
#ifndef DCFSYNC_DRIVER_PULSE_H
#define DCFSYNC_DRIVER_PULSE_H

#include <stdint.h>

#include "decode/pulse.h"

struct RunState;

struct PulseListener {
  PulseDecoder decoder;
  int32_t started;  // 0: the decoder starts afresh at the next poll
  int64_t lastEdgeMs;
  int32_t silenceTold, invertTold, watchTold;
};

void PulsePoll(RunState* run);

#endif
