// Preloaded into the program by the pulse receiver's end-to-end tests: a
// pseudo-terminal has no status lines, so this answers the status-line
// requests on the port from a timeline, in real time. DCFSYNC_PULSE_TIMELINE
// names the timeline ("UTC-ms level" lines, as dcfsim --pulse writes them),
// DCFSYNC_PULSE_PORT the port (any path of it), DCFSYNC_PULSE_LINE the line
// it drives (DCD, CTS, DSR or RI; default DCD). On a descriptor of that
// port TIOCMGET gives the line's level at the moment (on CLOCK_REALTIME),
// and TIOCMIWAIT sleeps until the line's next change from the level the last
// TIOCMGET gave, at once when it has changed since (EINTR when a signal
// handler runs meanwhile; for ever once the timeline has ended or when the
// request leaves the line out). Every other request goes to the system.
#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

enum { Capacity = 1 << 20 };

static struct {
  int loaded;
  long long at[Capacity];
  int level[Capacity];
  int count;
  int bit;
  int seen;  // the level the last TIOCMGET gave
  dev_t device;  // the port's device number
} Line;

static void Load(void) {
  Line.loaded = 1;
  const char* timeline = getenv("DCFSYNC_PULSE_TIMELINE");
  const char* port = getenv("DCFSYNC_PULSE_PORT");
  const char* name = getenv("DCFSYNC_PULSE_LINE");
  struct stat found;
  if (timeline == NULL || port == NULL || stat(port, &found) != 0) return;
  Line.device = found.st_rdev;
  Line.bit = TIOCM_CD;
  if (name != NULL && strcmp(name, "CTS") == 0) Line.bit = TIOCM_CTS;
  if (name != NULL && strcmp(name, "DSR") == 0) Line.bit = TIOCM_DSR;
  if (name != NULL && strcmp(name, "RI") == 0) Line.bit = TIOCM_RI;
  FILE* file = fopen(timeline, "r");
  if (file == NULL) return;
  while (Line.count < Capacity &&
         fscanf(file, "%lld %d", &Line.at[Line.count], &Line.level[Line.count]) == 2) {
    ++Line.count;
  }
  fclose(file);
}

static int IsPort(int fd) {
  if (!Line.loaded) Load();
  if (Line.count == 0) return 0;
  struct stat found;
  return fstat(fd, &found) == 0 && S_ISCHR(found.st_mode) && found.st_rdev == Line.device;
}

static long long NowMs(void) {
  struct timespec now;
  syscall(SYS_clock_gettime, CLOCK_REALTIME, &now);
  return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// The index of the last change at or before ms; -1 before the first.
static int IndexAt(long long ms) {
  int low = 0, high = Line.count;  // first index after ms
  while (low < high) {
    int middle = (low + high) / 2;
    if (Line.at[middle] <= ms) low = middle + 1; else high = middle;
  }
  return low - 1;
}

extern "C" int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  if ((request != TIOCMGET && request != TIOCMIWAIT) || !IsPort(fd)) {
    return (int)syscall(SYS_ioctl, fd, request, arg);
  }
  int i = IndexAt(NowMs());
  int level = i >= 0 ? Line.level[i] : 0;
  if (request == TIOCMGET) {
    *(int*)arg = level ? Line.bit : 0;
    Line.seen = level;
    return 0;
  }
  if (level != Line.seen) return 0;
  if (((unsigned long)arg & (unsigned long)Line.bit) == 0) {
    pause();  // none of the lines asked for ever moves
    errno = EINTR;
    return -1;
  }
  int next = i + 1;
  while (next < Line.count && Line.level[next] == level) ++next;
  if (next >= Line.count) {
    pause();
    errno = EINTR;
    return -1;
  }
  struct timespec due;
  due.tv_sec = (time_t)(Line.at[next] / 1000);
  due.tv_nsec = (long)(Line.at[next] % 1000) * 1000000;
  int failed = clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &due, NULL);
  if (failed != 0) {
    errno = failed;
    return -1;
  }
  return 0;
}
