// Preloaded into the program by the end-to-end tests in place of the C
// library's clock_settime: records each request as one line
//   "clock seconds nanoseconds realSeconds realNanoseconds"
// in the file named by DCFSYNC_SETTIME_RECORD (the instant asked for, then
// the machine's real CLOCK_REALTIME at the call, read past any preloaded
// clock shift) and reports success, so the program's whole clock-setting path
// runs without ever touching the machine's clock. Without that variable every
// call fails with EPERM.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/timex.h>
#include <time.h>
#include <unistd.h>

extern "C" int clock_settime(clockid_t clock, const struct timespec* value) {
  struct timespec real = {0, 0};
  syscall(SYS_clock_gettime, CLOCK_REALTIME, &real);
  const char* record = getenv("DCFSYNC_SETTIME_RECORD");
  if (record == NULL) {
    errno = EPERM;
    return -1;
  }
  int fd = open(record, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    errno = EPERM;
    return -1;
  }
  char line[128];
  int length = snprintf(line, sizeof line, "%d %lld %ld %lld %ld\n", (int)clock,
                        (long long)value->tv_sec, (long)value->tv_nsec, (long long)real.tv_sec,
                        (long)real.tv_nsec);
  ssize_t written = write(fd, line, (size_t)length);
  close(fd);
  return written == length ? 0 : (errno = EIO, -1);
}

extern "C" int clock_adjtime(clockid_t clock, struct timex* request) {
  (void)clock;
  const char* record = getenv("DCFSYNC_ADJTIME_RECORD");
  int fd = record != NULL ? open(record, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
  if (fd < 0) {
    errno = EPERM;
    return -1;
  }
  char line[96];
  int length = snprintf(line, sizeof line, "%u %ld %ld\n", request->modes, (long)request->freq,
                        (long)request->offset);
  ssize_t written = write(fd, line, (size_t)length);
  close(fd);
  return written == length ? TIME_OK : (errno = EIO, -1);
}
