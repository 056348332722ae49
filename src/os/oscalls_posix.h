// The POSIX program's system calls, reached only through one table (Os), so that a test can
// put a failing, short or recording call in place of the real one. POSIX platform files only.
#ifndef DCFSYNC_OS_OSCALLS_POSIX_H
#define DCFSYNC_OS_OSCALLS_POSIX_H

#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>
#include <termios.h>
#include <sys/timex.h>
#include <time.h>

struct OsCalls {
  // The port.
  int (*OpenDevice)(const char* path, int flags);           // open
  int (*CloseDevice)(int fd);                               // close
  int (*Lock)(int fd, int operation);                       // flock
  int (*Control)(int fd, unsigned long request, void* arg);  // ioctl
  int (*GetAttributes)(int fd, struct termios* attributes);
  int (*SetAttributes)(int fd, int when, const struct termios* attributes);
  int (*Poll)(struct pollfd* fds, nfds_t count, int timeoutMs);
  ssize_t (*Read)(int fd, void* buffer, size_t size);
  ssize_t (*Write)(int fd, const void* buffer, size_t size);
  // The clocks.
  int (*Clock)(clockid_t clock, struct timespec* now);          // clock_gettime
  int (*SetClock)(clockid_t clock, const struct timespec* value);  // clock_settime
  int (*AdjustClock)(clockid_t clock, struct timex* request);       // clock_adjtime
  // The program's files.
  FILE* (*OpenFile)(const char* path, const char* mode);  // fopen
  int (*PutText)(const char* text, FILE* file);          // fputs
  int (*FlushFile)(FILE* file);                          // fflush
  int (*CloseFile)(FILE* file);                          // fclose
  // The time daemon's feed: the barrier between a sample's steps, the socket, the segment.
  void (*Barrier)(void);
  int (*LinkStatus)(const char* path, struct stat* found);    // lstat
  int (*Socket)(int domain, int type, int protocol);
  int (*FileControl)(int fd, int command, int value);         // fcntl
  ssize_t (*SendTo)(int fd, const void* data, size_t size, int flags, const struct sockaddr* to,
                    socklen_t length);
  int (*ShmGet)(key_t key, size_t size, int flags);
  int (*ShmControl)(int id, int command, struct shmid_ds* info);
  void* (*ShmAttach)(int id, const void* at, int flags);
  int (*ShmDetach)(const void* at);
  uid_t (*EffectiveUser)(void);                               // geteuid
  // The pulse receiver's wait: the timer that ends it, its signals.
  int (*SetTimer)(int which, const struct itimerval* value, struct itimerval* old);
  int (*Signal)(int number, const struct sigaction* action, struct sigaction* old);
  // The drift file, replaced whole (fsync, rename; 0 or the error number); the wake-up's pipe.
  size_t (*ReadText)(void* buffer, size_t size, FILE* file);  // fread
  int (*SyncFile)(FILE* file);
  int (*ReplaceFile)(const char* from, const char* to);
  int (*Pipe)(int ends[2]);
};

// The calls in use; RealOsCalls holds the system's own, which ResetOsCalls puts back.
extern OsCalls Os;
extern const OsCalls RealOsCalls;
void ResetOsCalls(void);

#endif
