// The poll of a pulse receiver (Receiver=1): listens on the status line
// Settings.PulseLine (DCD where the name is none of DCD, CTS, DSR, RI) until
// the decoder (decode/pulse.h) brings a complete minute, which goes on as a
// raw frame with its capture (CarryOutFrame) like the module's; "Receive error!" after
// three minutes without one. Logs each minute's reception, and once each:
// a line silent for 10 s (again after it has moved), widths that only make
// sense inverted, a port that cannot report its lines. Returns at once
// when Ctrl-C comes. The decoder and those notes last from poll to poll
// (ResetPulseListener: the state at start).
#ifndef DCFSYNC_DRIVER_PULSE_H
#define DCFSYNC_DRIVER_PULSE_H

#include "driver/poll.h"

void ResetPulseListener(void);
void PulsePoll(RunState* run);

#endif
