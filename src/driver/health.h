// The run's health: the reception state fed by every poll and every second
// of the wait, its changes logged, and the service manager told the state.
#ifndef DCFSYNC_DRIVER_HEALTH_H
#define DCFSYNC_DRIVER_HEALTH_H

#include <stdint.h>

struct RunState;

struct HealthRecord {
  int32_t trusted;        // the last poll brought a trusted telegram
  char since[8];          // the PC's HH:MM when the state began
  double offsetMs;        // the last trusted telegram's lead of the PC
  int32_t sets, setsDay;  // the clock's sets on the PC's day setsDay
  int64_t watchdogMs, lastWatchdogMs, lastStatusMs;
  int32_t statusDue;
};

// After LoadSettings: starting afresh, the watchdog's limit read.
void StartHealth(HealthRecord* health);
// The receiver answered: the manager hears the run is ready.
void ReportReady(RunState* run);
// A trusted telegram (offsetMs: telegram less PC; clockSet 0), or a set of
// the clock (clockSet 1).
void NoteTelegramOutcome(HealthRecord* health, double offsetMs, int32_t clockSet);
// After every poll and every second of the wait: the reception updated (a
// change logged once), the status sent on a change and at least every 5 s,
// the watchdog fed at least every quarter of its limit.
void TendHealth(RunState* run);

#endif
