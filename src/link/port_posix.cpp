// Serial port access on POSIX: a terminal in raw mode, non-blocking, paced by poll so that
// reads keep the Windows time-outs. Exclusive mode, modem lines and the rates above 38400
// where the system has them.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <algorithm>

#include "config/settings.h"
#include "link/port.h"
#include "log/log.h"
#include "os/monotonic.h"
#include "os/oscalls_posix.h"
#include "os/wake.h"

static int Failure(void) { return errno != 0 ? errno : EIO; }

int OpenPort(void) {
  // Non-blocking: an open never waits for a carrier. No controlling terminal is taken.
  int fd = Os.OpenDevice(Settings.port, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  Port.handle = InvalidPortHandle;
  if (fd < 0) return Failure();
  // A lock a second opener cannot take, and the terminal's exclusive mode against others.
  if (Os.Lock(fd, LOCK_EX | LOCK_NB) != 0) {
    int failed = Failure();
    Os.CloseDevice(fd);
    return failed;
  }
#ifdef TIOCEXCL
  Os.Control(fd, TIOCEXCL, NULL);
#endif
  Port.handle = (PortHandleValue)fd;
  return 0;
}

// POSIX names the rates up to 38400; the faster ones are taken where the system has them.
static int SpeedOf(int32_t baud, speed_t* speed) {
  static const struct {
    int32_t baud;
    speed_t speed;
  } speeds[] = {
      {50, B50},           {75, B75},     {110, B110},   {134, B134},     {150, B150},
      {200, B200},         {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
      {2400, B2400},       {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
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
  for (const auto& entry : speeds) {
    if (entry.baud == baud) {
      *speed = entry.speed;
      return 1;
    }
  }
  return 0;
}

static int ConfigureFailed(int code) {
  LogSystemError(code);
  return code != 0 ? code : EIO;
}

int ConfigurePort(int32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
  int fd = (int)Port.handle;
  if (fd < 0) return ConfigureFailed(EBADF);
  struct termios line;
  memset(&line, 0, sizeof line);
  if (Os.GetAttributes(fd, &line) != 0) return ConfigureFailed(errno);
  // Byte size 5 to 8; parity 0 none, 1 odd, 2 even; stop bits 0 one, 2 two (1.5 has none here).
  static const tcflag_t sizes[4] = {CS5, CS6, CS7, CS8};
  speed_t speed;
  if (!SpeedOf(baud, &speed) || byteSize < 5 || byteSize > 8 || parity > 2 || stopBits == 1 ||
      stopBits > 2) {
    return ConfigureFailed(EINVAL);
  }
  tcflag_t size = sizes[byteSize - 5];
  // Raw mode: the frames are binary, so no byte may be swallowed or changed either way.
  line.c_iflag &= (tcflag_t) ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                               IXON | IXOFF | IXANY | INPCK);
  line.c_oflag &= (tcflag_t)~OPOST;
  line.c_lflag &= (tcflag_t) ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  line.c_cflag &= (tcflag_t) ~(CSIZE | PARENB | PARODD | CSTOPB);
  line.c_cflag |= size | CREAD | CLOCAL;
  if (parity == 1) line.c_cflag |= PARENB | PARODD;
  if (parity == 2) line.c_cflag |= PARENB;
  if (stopBits == 2) line.c_cflag |= CSTOPB;
  line.c_cc[VMIN] = 0;  // reads never block; poll paces them
  line.c_cc[VTIME] = 0;
  if (cfsetispeed(&line, speed) != 0 || cfsetospeed(&line, speed) != 0) {
    return ConfigureFailed(errno);
  }
  if (Os.SetAttributes(fd, TCSANOW, &line) != 0) return ConfigureFailed(errno);
  // tcsetattr succeeds when any of the settings took; check the rate and size did.
  struct termios applied;
  memset(&applied, 0, sizeof applied);
  if (Os.GetAttributes(fd, &applied) != 0) return ConfigureFailed(errno);
  if (cfgetospeed(&applied) != speed || (applied.c_cflag & CSIZE) != size) {
    return ConfigureFailed(EINVAL);
  }
  return 0;
}

#if defined(TIOCMBIS) && defined(TIOCM_RTS)
// Pseudo-terminals and some adapters have no modem lines; their refusal is ignored.
static void SetModemLine(int bit, int on) {
  int fd = (int)Port.handle;
  if (fd >= 0) Os.Control(fd, on ? TIOCMBIS : TIOCMBIC, &bit);
}

void SetRts(int on) { SetModemLine(TIOCM_RTS, on); }
void SetDtr(int on) { SetModemLine(TIOCM_DTR, on); }
#else
void SetRts(int) {}
void SetDtr(int) {}
#endif

static int PollBesideWake(struct pollfd ready[2], int fd, short events, int64_t ms) {
  ready[0].fd = fd;
  ready[0].events = events;
  ready[0].revents = 0;
  ready[1].fd = (int)WakeHandle();
  ready[1].events = POLLIN;
  ready[1].revents = 0;
  return Os.Poll(ready, ready[1].fd >= 0 ? 2 : 1, (int)ms);
}

int ReadPort(unsigned char* destination, int offset, int size) {
  int fd = (int)Port.handle;
  if (fd < 0 || offset < 0 || size - offset <= 1) return 0;
  int request = std::min(size - offset - 1, (int)PortReadMaximum);
  int count = 0;
  int hungUp = 0;
  const int64_t totalEnd = MonotonicMs() + (int64_t)request * PortReadPerByteMs;
  int64_t lastByte = 0;
  while (count < request) {
    int64_t end = count > 0 ? std::min(totalEnd, lastByte + PortReadIntervalMs) : totalEnd;
    int64_t wait = end - MonotonicMs();
    if (wait <= 0 || WakeRequested()) break;
    struct pollfd ready[2];
    int events = PollBesideWake(ready, fd, POLLIN, wait);
    if (events < 0) {
      if (errno == EINTR) continue;
      hungUp = 1;
      break;
    }
    if (events == 0 || (ready[0].revents == 0 && ready[1].revents != 0)) continue;
    if (ready[0].revents & POLLIN) {
      ssize_t got = Os.Read(fd, destination + offset + count, (size_t)(request - count));
      if (got > 0) {
        count += (int)got;
        lastByte = MonotonicMs();
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    }
    hungUp = 1;  // end of file, a read error, or the far end gone (POLLHUP, POLLERR)
    break;
  }
  if (hungUp && count == 0) {
    // A hung-up line answers like a silent one, so the caller does not retry in a tight loop.
    int64_t rest = totalEnd - MonotonicMs();
    struct pollfd wake;
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
  destination[offset + count] = 0;
  return count;
}

int WriteCommand(const unsigned char* command) {
  int fd = (int)Port.handle;
  if (fd < 0) return EBADF;
  if (WakeRequested()) return EINTR;
  // A line that takes the bytes not within a second (held back by flow control) fails.
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
    if (PollBesideWake(ready, fd, POLLOUT, rest) < 0 && errno != EINTR) return Failure();
  }
  return 0;
}

int ClosePort(void) {
  int fd = (int)Port.handle;
  Port.handle = InvalidPortHandle;
  if (fd < 0) return EBADF;
#ifdef TIOCNXCL
  Os.Control(fd, TIOCNXCL, NULL);
#endif
  return Os.CloseDevice(fd) == 0 ? 0 : Failure();  // also drops the lock
}

// TIOCMIWAIT has no time-out and the Ctrl-C handler restarts what it interrupts: a one-shot
// timer and Ctrl-C's handler, both without restart, end the wait with EINTR.
static void OnWaitTimer(int) {}

int WaitLineChange(int32_t line, int32_t timeoutMs, int64_t* monoMs, int64_t* wallUs,
                   int32_t* level) {
  static const int bits[4] = {TIOCM_CD, TIOCM_CTS, TIOCM_DSR, TIOCM_RI};
  *level = -1;
  int fd = (int)Port.handle;
  if (fd < 0) return EBADF;
  int bit = bits[line >= 0 && line < 4 ? line : 0];
  int before = 0, after = 0;
  // SIGALRM's handler stays (a late signal must not end the process); SIGINT's for the wait.
  struct sigaction timer, interrupt, oldInterrupt;
  memset(&timer, 0, sizeof timer);
  timer.sa_handler = OnWaitTimer;
  sigemptyset(&timer.sa_mask);
  Os.Signal(SIGALRM, &timer, NULL);
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
  // The level is read last thing before the wait: a change in between is stamped late, never lost.
  if (Os.Control(fd, TIOCMGET, &before) != 0) {
    code = Failure();
  } else if (!WakeRequested() && Os.SetTimer(ITIMER_REAL, &due, NULL) == 0) {
    code = Os.Control(fd, TIOCMIWAIT, (void*)(intptr_t)bit) == 0 ? 0 : Failure();
  }
#else
  code = ENOTSUP;
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
