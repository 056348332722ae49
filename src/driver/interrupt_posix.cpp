// The end of a run on POSIX: each ending signal wakes the main flow.
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
  static const int Ends[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  for (int signal : Ends) {
    if (sigaction(signal, &action, NULL) != 0) return errno != 0 ? errno : EINVAL;
  }
  return 0;
}
