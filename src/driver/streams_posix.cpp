// Standard streams on POSIX: a closed descriptor 0, 1 or 2 would go to the
// first file opened, the port among them, and printf would write to the
// receiver. SIGPIPE ignored: a console write to a gone reader just fails
// instead of ending the run with the receiver powered.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "driver/driver.h"

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
