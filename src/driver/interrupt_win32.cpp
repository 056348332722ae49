// Ctrl-C on Windows: the C runtime delivers SIGINT on the console's control
// thread, so the handler runs beside the main flow as it is.
#include <errno.h>
#include <signal.h>

#include "driver/interrupt.h"

int InstallInterruptHandler(void (*handler)(int)) {
  return signal(SIGINT, handler) != SIG_ERR ? 0 : (errno != 0 ? errno : EINVAL);
}
