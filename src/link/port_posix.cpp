// Serial port access on POSIX: a terminal device in raw mode, read with poll
// so that reads keep the same pace as on Windows (100 ms of silence after a
// byte ends a read, about one second when nothing comes). termios, poll and
// flock; the terminal's exclusive mode, the modem-line requests and the
// rates above 38400 where the system has them (Linux and the BSDs do).
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <time.h>

#include "config/settings.h"
#include "link/port.h"
#include "log/log.h"
#include "os/monotonic.h"
#include "os/oscalls_posix.h"
#include "os/wake.h"

int64_t PortLastByteMs(void) { return Port.lastByteMs; }

static int OpenDescriptor(void) {
  PortHandleValue value = Port.handle;
  return value == InvalidPortHandle ? -1 : (int)value;
}

// The error number a failed call left; EIO where it left none.
static int Failure(void) { return errno != 0 ? errno : EIO; }

int OpenPort(void) {
  // Non-blocking: reads are paced by poll, and an open never waits for a
  // carrier. No controlling terminal is taken.
  int fd = Os.OpenDevice(Settings.port, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  int failed = fd < 0 ? Failure() : 0;
  if (fd >= 0) {
    // Exclusive use: a lock that a second opener (this program or any other
    // that locks the same way) cannot take, and the terminal's own exclusive
    // mode, which refuses further opens by unprivileged processes.
    if (Os.Lock(fd, LOCK_EX | LOCK_NB) != 0) {
      failed = Failure();
      Os.CloseDevice(fd);
      fd = -1;
    } else {
#ifdef TIOCEXCL
      Os.Control(fd, TIOCEXCL, NULL);
#endif
    }
  }
  Port.handle = fd >= 0 ? (PortHandleValue)fd : InvalidPortHandle;
  return failed;
}

static int SpeedOf(int32_t baud, speed_t* speed) {
  // POSIX names the rates up to 38400; the faster ones are the system's own
  // additions, taken where it has them.
  static const struct {
    int32_t baud;
    speed_t speed;
  } speeds[] = {{50, B50},         {75, B75},       {110, B110},     {134, B134},
                {150, B150},       {200, B200},     {300, B300},     {600, B600},
                {1200, B1200},     {1800, B1800},   {2400, B2400},   {4800, B4800},
                {9600, B9600},     {19200, B19200}, {38400, B38400},
#ifdef B57600
                {57600, B57600},
#endif
#ifdef B115200
                {115200, B115200},
#endif
#ifdef B230400
                {230400, B230400},
#endif
#ifdef B460800
                {460800, B460800},
#endif
#ifdef B500000
                {500000, B500000},
#endif
#ifdef B576000
                {576000, B576000},
#endif
#ifdef B921600
                {921600, B921600},
#endif
#ifdef B1000000
                {1000000, B1000000},
#endif
  };
  for (size_t i = 0; i < sizeof speeds / sizeof speeds[0]; ++i) {
    if (speeds[i].baud == baud) {
      *speed = speeds[i].speed;
      return 1;
    }
  }
  return 0;
}

// Logs the system's text for code and returns it (EIO for a failure that
// left no code, so that it never reads as success).
static int ConfigureFailed(int code) {
  LogSystemError(code);
  return code != 0 ? code : EIO;
}

int ConfigurePort(int32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
  int fd = OpenDescriptor();
  if (fd < 0) return ConfigureFailed(EBADF);

  struct termios line;
  memset(&line, 0, sizeof line);
  if (Os.GetAttributes(fd, &line) != 0) return ConfigureFailed(errno);

  speed_t speed;
  if (!SpeedOf(baud, &speed)) return ConfigureFailed(EINVAL);
  tcflag_t size;
  switch (byteSize) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return ConfigureFailed(EINVAL);
  }
  // Parity 0 none, 1 odd, 2 even; stop bits 0 one, 2 two (1.5 has no
  // equivalent here).
  if (parity > 2 || stopBits == 1 || stopBits > 2) return ConfigureFailed(EINVAL);

  // Raw mode: the module's frames are binary, so no byte may be swallowed
  // or changed on the way in (no echo, no line editing, no CR/LF or
  // software flow-control processing, no signals) nor on the way out.
  line.c_iflag &= (tcflag_t) ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                               IXON | IXOFF | IXANY | INPCK);
  line.c_oflag &= (tcflag_t)~OPOST;
  line.c_lflag &= (tcflag_t) ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  line.c_cflag &= (tcflag_t) ~(CSIZE | PARENB | PARODD | CSTOPB);
  line.c_cflag |= size | CREAD | CLOCAL;
  if (parity == 1) line.c_cflag |= PARENB | PARODD;
  if (parity == 2) line.c_cflag |= PARENB;
  if (stopBits == 2) line.c_cflag |= CSTOPB;
  // Reads never block in the driver; poll paces them.
  line.c_cc[VMIN] = 0;
  line.c_cc[VTIME] = 0;
  if (cfsetispeed(&line, speed) != 0 || cfsetospeed(&line, speed) != 0) {
    return ConfigureFailed(errno);
  }
  if (Os.SetAttributes(fd, TCSANOW, &line) != 0) return ConfigureFailed(errno);

  // tcsetattr succeeds when any of the settings took; check the rate did.
  struct termios applied;
  memset(&applied, 0, sizeof applied);
  if (Os.GetAttributes(fd, &applied) != 0) return ConfigureFailed(errno);
  if (cfgetospeed(&applied) != speed || (applied.c_cflag & CSIZE) != size) {
    return ConfigureFailed(EINVAL);
  }
  return 0;
}

#if defined(TIOCMBIS) && defined(TIOCM_RTS)
// Modem lines through the modem-control requests. Pseudo-terminals and some
// adapters have no such lines; their refusal is ignored.
static void SetModemLine(int bit, int on) {
  int fd = OpenDescriptor();
  if (fd < 0) return;
  int bits = bit;
  Os.Control(fd, on ? TIOCMBIS : TIOCMBIC, &bits);
}

void SetRts(int on) { SetModemLine(TIOCM_RTS, on); }
void SetDtr(int on) { SetModemLine(TIOCM_DTR, on); }
#else
// A system without the modem-control requests: the lines stay as they are,
// as on a port without modem lines.
void SetRts(int) {}
void SetDtr(int) {}
#endif

int ReadPort(unsigned char* destination, int offset, int size) {
  int fd = OpenDescriptor();
  if (fd < 0 || offset < 0 || size - offset <= 1) return 0;
  int request = size - offset - 1;
  if (request > PortReadMaximum) request = PortReadMaximum;

  unsigned char scratch[PortReadScratchSize];
  memset(scratch, 0, sizeof scratch);
  int count = 0;
  int hungUp = 0;
  const int64_t totalEnd = MonotonicMs() + (int64_t)request * PortReadPerByteMs;
  int64_t lastByte = 0;
  while (count < request) {
    int64_t now = MonotonicMs();
    int64_t wait = totalEnd - now;
    if (count > 0 && lastByte + PortReadIntervalMs - now < wait) {
      wait = lastByte + PortReadIntervalMs - now;
    }
    if (wait <= 0 || WakeRequested()) break;
    // The line, and beside it the Ctrl-C wake-up when there is one.
    struct pollfd ready[2];
    ready[0].fd = fd;
    ready[0].events = POLLIN;
    ready[0].revents = 0;
    ready[1].fd = (int)WakeHandle();
    ready[1].events = POLLIN;
    ready[1].revents = 0;
    int events = Os.Poll(ready, ready[1].fd >= 0 ? 2 : 1, (int)wait);
    if (events < 0) {
      if (errno == EINTR) continue;
      hungUp = 1;
      break;
    }
    if (events == 0 || (ready[0].revents == 0 && ready[1].revents != 0)) continue;
    if (ready[0].revents & POLLIN) {
      ssize_t got = Os.Read(fd, scratch + count, (size_t)(request - count));
      if (got > 0) {
        count += (int)got;
        lastByte = MonotonicMs();
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    }
    // End of file, a read error, or the other side gone (POLLHUP, POLLERR).
    hungUp = 1;
    break;
  }
  if (hungUp && count == 0) {
    // A line whose far end is gone answers like a silent one: the read takes
    // its full time instead of returning at once and being retried in a
    // tight loop by the caller.
    int64_t rest = totalEnd - MonotonicMs();
    struct pollfd wake;  // Ctrl-C still cuts the wait short
    wake.fd = (int)WakeHandle();
    wake.events = POLLIN;
    wake.revents = 0;
    if (rest > 0 && !WakeRequested()) {
      Os.Poll(wake.fd >= 0 ? &wake : NULL, wake.fd >= 0 ? 1 : 0, (int)rest);
    }
    return 0;
  }
  if (count == 0) return 0;
  Port.lastByteMs = lastByte;
  memcpy(destination + offset, scratch, (size_t)count);
  destination[offset + count] = 0;
  return count;
}

int WriteCommand(const unsigned char* command) {
  int fd = OpenDescriptor();
  if (fd < 0) return EBADF;
  if (WakeRequested()) return EINTR;
  // Both bytes go out before the call returns; a line that takes neither
  // within a second (output held back by flow control) counts as failed.
  const int64_t end = MonotonicMs() + 1000;
  size_t sent = 0;
  while (sent < CommandSize) {
    ssize_t put = Os.Write(fd, command + sent, CommandSize - sent);
    if (put > 0) {
      sent += (size_t)put;
      continue;
    }
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return Failure();
    if (WakeRequested()) return EINTR;
    int64_t rest = end - MonotonicMs();
    if (rest <= 0) return ETIMEDOUT;
    struct pollfd ready[2];
    ready[0].fd = fd;
    ready[0].events = POLLOUT;
    ready[0].revents = 0;
    ready[1].fd = (int)WakeHandle();
    ready[1].events = POLLIN;
    ready[1].revents = 0;
    if (Os.Poll(ready, ready[1].fd >= 0 ? 2 : 1, (int)rest) < 0 && errno != EINTR) {
      return Failure();
    }
  }
  return 0;
}

int ClosePort(void) {
  PortHandleValue value = Port.handle;
  Port.handle = InvalidPortHandle;
  if (value == InvalidPortHandle) return EBADF;
  int fd = (int)value;
#ifdef TIOCNXCL
  Os.Control(fd, TIOCNXCL, NULL);
#endif
  // Closing also drops the lock taken at open.
  return Os.CloseDevice(fd) == 0 ? 0 : Failure();
}

// The pulse receiver's wait. TIOCMIWAIT has no time-out of its own and the
// Ctrl-C handler restarts what it interrupts: for the wait a one-shot timer
// and Ctrl-C's own handler, both without restart, end it with EINTR.
static void OnWaitTimer(int) {}

int WaitLineChange(int32_t line, int32_t timeoutMs, int64_t* monoMs, int64_t* wallUs,
                   int32_t* level) {
  static const int bits[4] = {TIOCM_CD, TIOCM_CTS, TIOCM_DSR, TIOCM_RI};
  *level = -1;
  int fd = OpenDescriptor();
  if (fd < 0) return EBADF;
  int bit = bits[line >= 0 && line < 4 ? line : 0];
  int before = 0, after = 0;
  // The timer's handler stays once set; Ctrl-C's loses its restart for the
  // wait only.
  static int timerSet = 0;
  struct sigaction timer, interrupt, oldInterrupt;
  memset(&timer, 0, sizeof timer);
  timer.sa_handler = OnWaitTimer;
  sigemptyset(&timer.sa_mask);
  if (!timerSet) timerSet = Os.Signal(SIGALRM, &timer, NULL) == 0;
  Os.Signal(SIGINT, NULL, &oldInterrupt);
  interrupt = oldInterrupt;
  interrupt.sa_flags &= ~SA_RESTART;
  Os.Signal(SIGINT, &interrupt, NULL);
  struct itimerval due, off;
  memset(&due, 0, sizeof due);
  memset(&off, 0, sizeof off);
  due.it_value.tv_sec = timeoutMs / 1000;
  due.it_value.tv_usec = (timeoutMs % 1000) * 1000 + 1;
  int code = EINTR;
#ifdef TIOCMIWAIT
  // The level read last thing before the wait: a change in between is seen
  // only when the wait ends (stamped late), never lost.
  if (Os.Control(fd, TIOCMGET, &before) != 0) {
    code = Failure();
  } else if (!WakeRequested() && Os.SetTimer(ITIMER_REAL, &due, NULL) == 0) {
    code = Os.Control(fd, TIOCMIWAIT, (void*)(intptr_t)bit) == 0 ? 0 : Failure();
  }
#else
  code = ENOTSUP;  // a system that cannot wait for the lines
#endif
  struct timespec wall;  // the change's time, first of all
  memset(&wall, 0, sizeof wall);
  Os.Clock(CLOCK_REALTIME, &wall);
  int64_t mono = MonotonicMs();
  Os.SetTimer(ITIMER_REAL, &off, NULL);
  Os.Signal(SIGINT, &oldInterrupt, NULL);
  if (code != 0 && code != EINTR) return code;
  if (Os.Control(fd, TIOCMGET, &after) != 0) return Failure();
  if (((before ^ after) & bit) == 0) return 0;
  *monoMs = mono;
  *wallUs = (int64_t)wall.tv_sec * 1000000 + wall.tv_nsec / 1000;
  *level = (after & bit) != 0;
  return 0;
}
