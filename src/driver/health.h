// The run's health: the run's reception state (RunState.reception) fed by
// every poll and every second of the wait (its changes logged), and the
// service manager told the state (os/notify.h: ready, the status line, the
// watchdog).
#ifndef DCFSYNC_DRIVER_HEALTH_H
#define DCFSYNC_DRIVER_HEALTH_H

#include "driver/poll.h"

// Starting afresh, the watchdog's limit read; after LoadSettings.
void StartHealth(void);
// The receiver answered: the manager hears the run is ready.
void ReportReady(RunState* run);
// From the poll's shell: a trusted telegram (offsetMs: telegram less PC,
// clockSet 0), and a set of the clock (clockSet 1).
void NoteTelegramOutcome(double offsetMs, int32_t clockSet);
// After every poll and every second of the wait: the reception updated with
// the poll's trusted telegram, if any (a change logged once), the status
// line sent on a change and at least every 5 s, the watchdog kept alive at
// least every quarter of its limit.
void TendHealth(RunState* run);

#endif
