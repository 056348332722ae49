// The service manager's view of the run (systemd's notification socket); where there is none
// every call does nothing. Each returns 0 or an error number.
#ifndef DCFSYNC_OS_NOTIFY_H
#define DCFSYNC_OS_NOTIFY_H

#include <stdint.h>

int NotifyReady(void);               // the receiver answered
int NotifyStatus(const char* text);  // the one-line status shown (no line feed)
int NotifyWatchdog(void);            // the run is alive
int64_t NotifyWatchdogMs(void);      // the watchdog's limit in ms; 0 when none

#endif
