// Standard streams on POSIX: a program started with descriptor 0, 1 or 2
// closed (as some schedulers and scripts do) would hand that number to the
// first file it opens, the serial port among them, and printf would then
// write the console's text to the receiver. Each closed one of the three is
// opened on /dev/null before anything else is opened.
//
// SIGPIPE is ignored: with standard output on a pipe whose reader has gone,
// a console write fails with EPIPE (and is dropped, as every failed console
// write is) instead of ending the program with the receiver still powered
// and nothing logged.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "driver/driver.h"

void OpenStandardStreams(void) {
  signal(SIGPIPE, SIG_IGN);
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;  // open: left as it is
    // open returns the lowest free number, which is fd itself here, since
    // every number below it is open by now.
    int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      // Not expected; still keep fd from being taken by the port.
      dup2(opened, fd);
      close(opened);
    }
  }
}
