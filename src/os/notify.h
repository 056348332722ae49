// The service manager's view of the run, where the system has one that
// listens (systemd's notification socket); elsewhere every call does nothing
// and returns 0. Each returns 0 or an error number. One file per kind of
// system: notify_systemd.cpp, notify_none.cpp.
#ifndef DCFSYNC_OS_NOTIFY_H
#define DCFSYNC_OS_NOTIFY_H

#include <stdint.h>

// The run is up: the receiver answered.
int NotifyReady(void);
// The one-line status the manager shows (text without a line feed).
int NotifyStatus(const char* text);
// The run is alive: keeps the manager's watchdog from ending it.
int NotifyWatchdog(void);
// The watchdog's limit the manager set for this process, in ms; 0 when none.
int64_t NotifyWatchdogMs(void);

#endif
