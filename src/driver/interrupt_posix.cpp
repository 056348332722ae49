// Ctrl-C on POSIX: the SIGINT handler records the request and writes a byte
// into the self-pipe that every wait of the main flow watches.
#include <errno.h>
#include <signal.h>
#include <string.h>

#include "driver/interrupt.h"
#include "os/wake.h"

static void OnInterrupt(int) { RequestWake(); }

int InstallInterruptHandler(void) {
  int failed = StartWake();
  if (failed != 0) return failed;
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return sigaction(SIGINT, &action, NULL) == 0 ? 0 : (errno != 0 ? errno : EINVAL);
}
