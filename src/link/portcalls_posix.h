// The system calls of the POSIX port, reached through one table so that a
// test can put a failing or short call in place of the real one.
#ifndef DCFSYNC_LINK_PORTCALLS_POSIX_H
#define DCFSYNC_LINK_PORTCALLS_POSIX_H

#include <poll.h>
#include <sys/types.h>
#include <termios.h>
#include <time.h>

struct PortSystemCalls {
  int (*OpenDevice)(const char* path, int flags);
  int (*CloseDevice)(int fd);
  int (*Lock)(int fd, int operation);                       // flock
  int (*Control)(int fd, unsigned long request, void* arg);  // ioctl
  int (*GetAttributes)(int fd, struct termios* attributes);
  int (*SetAttributes)(int fd, int when, const struct termios* attributes);
  int (*Poll)(struct pollfd* fds, nfds_t count, int timeoutMs);
  ssize_t (*Read)(int fd, void* buffer, size_t size);
  ssize_t (*Write)(int fd, const void* buffer, size_t size);
  int (*Clock)(clockid_t clock, struct timespec* now);  // clock_gettime, CLOCK_MONOTONIC
};

// The calls in use; RealPortSystemCalls holds the system's own.
extern PortSystemCalls PortCalls;
extern const PortSystemCalls RealPortSystemCalls;

#endif
