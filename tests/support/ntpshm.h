// NTP shared-memory units for tests: one no other program uses, removed at
// the end. Units 0 and 1 (and any unit whose segment exists) belong to the
// machine's own time daemon and are never touched. Header only, POSIX.
#ifndef DCFSYNC_TESTS_NTPSHM_H
#define DCFSYNC_TESTS_NTPSHM_H

#include <errno.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>
#include <unistd.h>

#include "refclock/refclock_posix.h"

// A unit from 2 to 255 whose segment does not exist, starting the search
// at a place of the process's own so that tests run side by side pick
// different units; -1 when all are taken.
inline int FreeShmUnit() {
  int start = (int)((getpid() * 7919u + (unsigned)time(nullptr)) % 254u);
  for (int i = 0; i < 254; ++i) {
    int unit = 2 + (start + i) % 254;
    if (shmget((key_t)(NtpShmKeyBase + unit), 0, 0) < 0 && errno == ENOENT) return unit;
  }
  return -1;
}

// Removes the unit's segment, if any; it disappears once the last process
// attached to it has detached.
inline void RemoveShmUnit(int unit) {
  if (unit < 2) return;
  int id = shmget((key_t)(NtpShmKeyBase + unit), 0, 0);
  if (id >= 0) shmctl(id, IPC_RMID, nullptr);
}

// A copy of the unit's segment as it is now; false when there is none.
inline bool ReadShmUnit(int unit, NtpShmSegment* copy) {
  int id = shmget((key_t)(NtpShmKeyBase + unit), 0, 0);
  if (id < 0) return false;
  void* at = shmat(id, nullptr, SHM_RDONLY);
  if (at == (void*)-1) return false;
  memcpy((void*)copy, at, sizeof *copy);
  shmdt(at);
  return true;
}

#endif
