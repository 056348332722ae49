// Preloaded into the program by the end-to-end tests: moves the monotonic
// clocks (CLOCK_MONOTONIC, CLOCK_BOOTTIME and their coarse and raw forms)
// ahead by the whole milliseconds written in the file named by
// DCFSYNC_MONOSHIFT_FILE, read at every reading, so a test makes hours pass
// for the program in an instant, as a suspended machine sees them. The wall
// clock stays as it is; without the variable or the file nothing moves.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static long long ShiftMs(void) {
  const char* path = getenv("DCFSYNC_MONOSHIFT_FILE");
  int fd = path != NULL ? open(path, O_RDONLY | O_CLOEXEC) : -1;
  if (fd < 0) return 0;
  char text[32] = {0};
  ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  return n > 0 ? strtoll(text, NULL, 10) : 0;
}

extern "C" int clock_gettime(clockid_t clock, struct timespec* now) {
  long result = syscall(SYS_clock_gettime, clock, now);
  if (result == 0 && (clock == CLOCK_MONOTONIC || clock == CLOCK_MONOTONIC_RAW ||
                      clock == CLOCK_MONOTONIC_COARSE || clock == CLOCK_BOOTTIME)) {
    long long ms = ShiftMs();
    now->tv_sec += (time_t)(ms / 1000);
    now->tv_nsec += (long)(ms % 1000) * 1000000L;
    if (now->tv_nsec >= 1000000000L) {
      now->tv_nsec -= 1000000000L;
      now->tv_sec += 1;
    }
  }
  return (int)result;
}
