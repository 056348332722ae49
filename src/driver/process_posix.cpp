// The process on POSIX: its standard streams, and the signals that end a run.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include "driver/driver.h"
#include "os/wake.h"

// A closed descriptor 0, 1 or 2 would go to the first file opened, the port
// among them, and printf would write to the receiver. SIGPIPE ignored: a
// console write to a gone reader just fails instead of ending the run with
// the receiver powered.
void OpenStandardStreams(void) {
  signal(SIGPIPE, SIG_IGN);
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;  // open: left as it is
    // The lowest free number: fd itself, as every number below it is open.
    int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

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
