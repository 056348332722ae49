// systemd's notification socket through libsystemd.
#include "os/notify.h"

#include <stdio.h>
#include <systemd/sd-daemon.h>

static int Sent(int result) { return result < 0 ? -result : 0; }

int NotifyReady(void) { return Sent(sd_notify(0, "READY=1")); }
int NotifyStatus(const char* text) {
  char message[320];
  snprintf(message, sizeof message, "STATUS=%s", text);
  return Sent(sd_notify(0, message));
}
int NotifyWatchdog(void) { return Sent(sd_notify(0, "WATCHDOG=1")); }
int64_t NotifyWatchdogMs(void) {
  uint64_t usec = 0;
  return sd_watchdog_enabled(0, &usec) > 0 ? (int64_t)(usec / 1000) : 0;
}
