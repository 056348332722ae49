// The wake-up on POSIX: a flag and a self-pipe. RequestWake runs in the signal handler.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>

#include "os/monotonic.h"
#include "os/oscalls_posix.h"
#include "os/wake.h"

static struct {
  int pipe[2];                     // read end, write end; -1 when closed
  volatile sig_atomic_t requested;
  volatile int64_t requestedMs;    // MonotonicReadingMs at the request
} Wake = {{-1, -1}, 0, 0};

static void CloseEnds(void) {
  for (int& end : Wake.pipe) {
    if (end >= 0) Os.CloseDevice(end);
    end = -1;
  }
}

int StartWake(void) {
  StopWake();
  int ends[2];
  if (Os.Pipe(ends) != 0) return errno != 0 ? errno : EIO;
  Wake.pipe[0] = ends[0];
  Wake.pipe[1] = ends[1];
  for (int end : ends) {
    int on = 1;
    if (Os.Control(end, FIONBIO, &on) != 0 || Os.Control(end, FIOCLEX, NULL) != 0) {
      int code = errno != 0 ? errno : EIO;
      CloseEnds();
      return code;
    }
  }
  return 0;
}

void RequestWake(void) {
  int saved = errno;  // a signal handler leaves errno as it found it
  if (!Wake.requested) Wake.requestedMs = MonotonicReadingMs();
  Wake.requested = 1;
  if (Wake.pipe[1] >= 0) {
    static const char byte = 1;
    ssize_t ignored = Os.Write(Wake.pipe[1], &byte, 1);  // a full pipe is awake already
    (void)ignored;
  }
  errno = saved;
}

int WakeRequested(void) { return Wake.requested ? 1 : 0; }
int64_t MsSinceWake(void) { return Wake.requested ? MonotonicMs() - Wake.requestedMs : 0; }

int WaitForWake(int ms) {
  const int64_t end = MonotonicMs() + ms;
  for (;;) {
    if (Wake.requested) return 1;
    int64_t rest = end - MonotonicMs();
    if (rest <= 0) return 0;
    struct pollfd ready;
    ready.fd = Wake.pipe[0];  // poll ignores a negative descriptor: a plain sleep
    ready.events = POLLIN;
    ready.revents = 0;
    Os.Poll(&ready, 1, (int)rest);  // EINTR: the loop looks again
  }
}

intptr_t WakeHandle(void) { return Wake.pipe[0]; }

void StopWake(void) {
  CloseEnds();
  Wake.requested = 0;
  Wake.requestedMs = 0;
}
