// Ctrl-C on Windows: the C runtime delivers SIGINT on the console's control
// thread, so the handler runs beside the main flow; it only records the
// request and sets the event the flow's waits watch.
#include <errno.h>
#include <signal.h>

#include "driver/interrupt.h"
#include "os/wake.h"

static void OnInterrupt(int) {
  RequestWake();
  // The runtime puts SIGINT back to its default before calling the handler:
  // a second Ctrl-C is taken the same way.
  signal(SIGINT, OnInterrupt);
}

int InstallInterruptHandler(void) {
  int failed = StartWake();
  if (failed != 0) return failed;
  return signal(SIGINT, OnInterrupt) != SIG_ERR ? 0 : (errno != 0 ? errno : EINVAL);
}
