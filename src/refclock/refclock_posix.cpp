// The feed to the time daemon on POSIX: datagrams to chronyd's SOCK socket
// and the NTP shared-memory segment.
#include "refclock/refclock_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "config/settings.h"
#include "os/monotonic.h"
#include "log/log.h"
#include "os/monotonic.h"
#include "os/oscalls_posix.h"
#include "refclock/refclock.h"

enum { SocketPathSize = sizeof(((struct sockaddr_un*)0)->sun_path) };

// The error a feed reports for what it found and refused (a segment of
// another user's, a path that is no socket), apart from the system's codes.
enum { FeedRefused = -1 };

// How long a segment may go without a reader before that is logged.
enum { ShmAloneLimitMs = 120000 };

// The running feed. A feed is on while its path is not empty or its unit
// not -1; failing is 1 from the failure that was logged until it works again.
struct ReferenceFeedRecord {
  char chronyPath[SocketPathSize];
  int chronySocket;  // the unbound datagram socket the samples leave by; -1: none yet
  int chronyFailing;
  int chronyLast;  // the last send's outcome: 0, FeedRefused, an error code; NoSampleYet
  int32_t shmUnit;
  int shmId;  // the segment attached at shm; -1: none
  NtpShmSegment* shm;
  int shmFailing;
  // The segment last refused: its owner, creator and mode.
  unsigned refusedOwner, refusedCreator, refusedMode;
  int64_t shmAloneSinceMs;  // monotonic ms since which no reader was attached; -1: one was
  int shmAloneLogged;       // 1 once "no reader" was logged, until a reader comes
  int shmReaders;           // readers attached at the last sample; -1 before one
};
enum { NoSampleYet = -2 };
static ReferenceFeedRecord Feed = {{0}, -1, 0, NoSampleYet, -1, -1, NULL, 0, 0, 0, 0, -1, 0, -1};

void FillChronySockRecord(const ReferenceSample* sample, ChronySockRecord* record) {
  memset(record, 0, sizeof *record);
  record->tv.tv_sec = (time_t)sample->systemSeconds;
  record->tv.tv_usec = (suseconds_t)(sample->systemNanoseconds / 1000);
  record->offset = sample->offset;
  record->pulse = 0;
  record->leap = sample->leap;
  record->magic = ChronySockMagic;
}

int NtpShmMode(int unit) { return unit <= 1 ? 0600 : 0666; }

int NtpShmTrusted(int unit, uid_t owner, uid_t creator, unsigned mode, uid_t self) {
  if (owner != 0 && owner != self) return 0;
  if (creator != 0 && creator != self) return 0;
  if (unit <= 1 && (mode & 022u) != 0) return 0;
  return 1;
}

void WriteNtpShmSample(NtpShmSegment* segment, const ReferenceSample* sample) {
  segment->valid = 0;
  Os.Barrier();
  segment->count = segment->count + 1;
  Os.Barrier();
  segment->mode = 1;
  segment->clockTimeStampSec = (time_t)sample->referenceSeconds;
  segment->clockTimeStampUSec = sample->referenceNanoseconds / 1000;
  segment->clockTimeStampNSec = (unsigned)sample->referenceNanoseconds;
  segment->receiveTimeStampSec = (time_t)sample->systemSeconds;
  segment->receiveTimeStampUSec = sample->systemNanoseconds / 1000;
  segment->receiveTimeStampNSec = (unsigned)sample->systemNanoseconds;
  segment->leap = sample->leap;
  segment->precision = NtpShmPrecision;
  segment->nsamples = 0;
  Os.Barrier();
  segment->count = segment->count + 1;
  Os.Barrier();
  segment->valid = 1;
}

// Sends one datagram to chronyd's socket, never waiting for room in it.
// Returns 0, FeedRefused when something other than a socket is at the
// path (the datagram is not sent), or the error code.
static int SendToChrony(const ReferenceSample* sample) {
  int error = 0;
  struct stat found;
  if (Os.LinkStatus(Feed.chronyPath, &found) == 0 && !S_ISSOCK(found.st_mode)) return FeedRefused;
  if (Feed.chronySocket < 0) {
    // Not inherited, and never blocking: the flags set by fcntl, as POSIX
    // has them.
    Feed.chronySocket = Os.Socket(AF_UNIX, SOCK_DGRAM, 0);
    if (Feed.chronySocket < 0) error = errno;
    if (error == 0 && (Os.FileControl(Feed.chronySocket, F_SETFD, FD_CLOEXEC) != 0 ||
                       Os.FileControl(Feed.chronySocket, F_SETFL, O_NONBLOCK) != 0)) {
      error = errno;
      Os.CloseDevice(Feed.chronySocket);
      Feed.chronySocket = -1;
    }
  }
  if (error == 0) {
    // The path each time: a restarted chronyd makes a new socket there.
    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, Feed.chronyPath, sizeof address.sun_path);
    ChronySockRecord record;
    FillChronySockRecord(sample, &record);
    ssize_t sent = Os.SendTo(Feed.chronySocket, &record, sizeof record, MSG_NOSIGNAL,
                          (const struct sockaddr*)&address, sizeof address);
    if (sent < 0) {
      error = errno;
    } else if ((size_t)sent != sizeof record) {
      error = EMSGSIZE;
    }
  }
  return error;
}

static void DetachShm(void) {
  if (Feed.shm != NULL) Os.ShmDetach((const void*)Feed.shm);
  Feed.shm = NULL;
  Feed.shmId = -1;
}

// Makes Feed.shm the segment that now bears the unit's key, created when
// missing: a segment removed and made anew by a restarted daemon is
// attached afresh, once NtpShmTrusted allows it. Returns 0, or FeedRefused
// (owner, creator and mode kept in Feed) or the error code with nothing
// attached.
static int AttachShm(void) {
  int error = 0;
  key_t key = (key_t)(NtpShmKeyBase + Feed.shmUnit);
  int id = Os.ShmGet(key, sizeof(NtpShmSegment), IPC_CREAT | NtpShmMode(Feed.shmUnit));
  struct shmid_ds info;
  if (id < 0) {
    error = errno;
    DetachShm();
  } else if (id != Feed.shmId && Os.ShmControl(id, IPC_STAT, &info) != 0) {
    error = errno;
    DetachShm();
  } else if (id != Feed.shmId &&
             !NtpShmTrusted((int)Feed.shmUnit, info.shm_perm.uid, info.shm_perm.cuid,
                            (unsigned)info.shm_perm.mode, Os.EffectiveUser())) {
    error = FeedRefused;
    Feed.refusedOwner = (unsigned)info.shm_perm.uid;
    Feed.refusedCreator = (unsigned)info.shm_perm.cuid;
    Feed.refusedMode = (unsigned)info.shm_perm.mode & 0777u;
    DetachShm();
  } else if (id != Feed.shmId) {
    void* at = Os.ShmAttach(id, NULL, 0);
    if (at == (void*)-1) {
      error = errno;
      DetachShm();
    } else {
      DetachShm();
      Feed.shm = (NtpShmSegment*)at;
      Feed.shmId = id;
    }
  }
  return error;
}

// Nobody listens at the path: no socket, or one nobody reads any more.
static int NobodyReading(int error) { return error == ENOENT || error == ECONNREFUSED; }

// Logs the first failure of a feed and its first success after one.
static void NoteChronyOutcome(int error) {
  Feed.chronyLast = error;
  if (error == FeedRefused && Feed.chronyFailing == 0) {
    Feed.chronyFailing = 1;
    LogMessage("chrony socket %s refused: not a socket", Feed.chronyPath);
  } else if (NobodyReading(error) && Feed.chronyFailing == 0) {
    Feed.chronyFailing = 1;
    LogMessage("chrony socket %s: nobody reading (error %d)", Feed.chronyPath, error);
  } else if (error != 0 && Feed.chronyFailing == 0) {
    Feed.chronyFailing = 1;
    LogMessage("chrony socket %s: error %d", Feed.chronyPath, error);
  } else if (error == 0 && Feed.chronyFailing != 0) {
    Feed.chronyFailing = 0;
    LogMessage("chrony socket %s works again", Feed.chronyPath);
  }
}

static void NoteShmOutcome(int error) {
  if (error == FeedRefused && Feed.shmFailing == 0) {
    Feed.shmFailing = 1;
    LogMessage("NTP shared memory unit %d refused: owner uid %u, creator uid %u, mode %03o",
               (int)Feed.shmUnit, Feed.refusedOwner, Feed.refusedCreator, Feed.refusedMode);
  } else if (error != 0 && Feed.shmFailing == 0) {
    Feed.shmFailing = 1;
    LogMessage("NTP shared memory unit %d: error %d", (int)Feed.shmUnit, error);
  } else if (error == 0 && Feed.shmFailing != 0) {
    Feed.shmFailing = 0;
    LogMessage("NTP shared memory unit %d works again", (int)Feed.shmUnit);
  }
}

// After a sample written: a segment no reader has attached to (the feed
// its only user) for ShmAloneLimitMs is logged once, and a reader's coming
// once.
static void NoteShmReaders(void) {
  struct shmid_ds info;
  if (Os.ShmControl(Feed.shmId, IPC_STAT, &info) != 0) return;
  int64_t now = MonotonicMs();
  Feed.shmReaders = (int)info.shm_nattch - 1;
  if (info.shm_nattch > 1) {
    if (Feed.shmAloneLogged) LogMessage("NTP shared memory unit %d: a reader attached", (int)Feed.shmUnit);
    Feed.shmAloneSinceMs = -1;
    Feed.shmAloneLogged = 0;
  } else if (Feed.shmAloneSinceMs < 0) {
    Feed.shmAloneSinceMs = now;
  } else if (!Feed.shmAloneLogged && now - Feed.shmAloneSinceMs >= ShmAloneLimitMs) {
    Feed.shmAloneLogged = 1;
    LogMessage("NTP shared memory unit %d: no reader attached for 2 min", (int)Feed.shmUnit);
  }
}

void DescribeReferenceFeed(char* text, size_t size) {
  int n = 0;
  if (size > 0) text[0] = '\0';
  if (Feed.chronyPath[0] != '\0') {
    int e = Feed.chronyLast;
    n = e == NoSampleYet ? snprintf(text, size, "chrony, no sample yet")
        : e == 0         ? snprintf(text, size, "chrony reading")
        : NobodyReading(e) ? snprintf(text, size, "chrony nobody reading")
        : e == FeedRefused ? snprintf(text, size, "chrony refused")
                           : snprintf(text, size, "chrony error %d", e);
  }
  if (Feed.shmUnit >= 0 && n >= 0 && (size_t)n < size) {
    snprintf(text + n, size - (size_t)n, "%sshm unit %d %s", n > 0 ? ", " : "", (int)Feed.shmUnit,
             Feed.shmFailing         ? "failing"
             : Feed.shmReaders < 0   ? "no sample yet"
             : Feed.shmReaders > 0   ? "reading"
             : Feed.shmAloneLogged   ? "no reader"
                                     : "waiting for a reader");
  }
}

void StopReferenceFeed(void) {
  if (Feed.chronySocket >= 0) Os.CloseDevice(Feed.chronySocket);
  Feed.chronySocket = -1;
  Feed.chronyPath[0] = '\0';
  Feed.chronyFailing = 0;
  Feed.chronyLast = NoSampleYet;
  DetachShm();
  Feed.shmUnit = -1;
  Feed.shmFailing = 0;
  Feed.shmAloneSinceMs = -1;
  Feed.shmAloneLogged = 0;
  Feed.shmReaders = -1;
}

void StartReferenceFeed(void) {
  StopReferenceFeed();
  size_t length = strlen(Settings.ChronySocket);
  if (length >= (size_t)SocketPathSize) {
    LogMessage("ChronySocket too long (%d characters, at most %d), feed off: %s", (int)length,
               (int)SocketPathSize - 1, Settings.ChronySocket);
  } else {
    memcpy(Feed.chronyPath, Settings.ChronySocket, length + 1);
  }

  int32_t unit = Settings.NtpShmUnit;
  if (unit >= 0 && unit <= NtpShmUnitLimit) {
    Feed.shmUnit = unit;
    NoteShmOutcome(AttachShm());
  } else if (unit != -1) {
    LogMessage("NtpShmUnit %d out of range 0..%d, feed off", (int)unit, (int)NtpShmUnitLimit);
  }
}

void FeedReferenceClock(const TelegramSample* in) {
  if (Feed.chronyPath[0] == '\0' && Feed.shmUnit < 0) return;
  ReferenceSample sample;
  if (!MakeReferenceSample(in, &sample)) return;
  if (Feed.chronyPath[0] != '\0') NoteChronyOutcome(SendToChrony(&sample));
  if (Feed.shmUnit >= 0) {
    int error = AttachShm();
    if (error == 0) WriteNtpShmSample(Feed.shm, &sample);
    NoteShmOutcome(error);
    if (error == 0) NoteShmReaders();
  }
}
