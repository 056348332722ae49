// No service manager to tell.
#include "os/notify.h"

int NotifyReady(void) { return 0; }
int NotifyStatus(const char*) { return 0; }
int NotifyWatchdog(void) { return 0; }
int64_t NotifyWatchdogMs(void) { return 0; }
