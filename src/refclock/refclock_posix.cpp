// The feed to the time daemon on POSIX: datagrams to chronyd's SOCK socket
// and the NTP shared-memory segment.
#include "refclock/refclock_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include "config/settings.h"
#include "log/log.h"
#include "os/monotonic.h"
#include "os/oscalls_posix.h"

enum {
  SocketPathSize = sizeof(((struct sockaddr_un*)0)->sun_path),
  FeedRefused = -1,  // a feed's outcome for a path that is no socket or a segment not trusted
  NoSampleYet = -2,
  NtpShmUnitLimit = 255,  // ntpd's 127.127.28.u addresses end there
  NtpShmPrecision = -7,   // 2^-7 s, about the module's 10 ms
  ShmAloneLimitMs = 120000  // a segment without a reader this long is logged
};

// The running feed: on while its path is not empty or its unit not -1;
// failing from a logged failure until it works again.
struct ReferenceFeedRecord {
  char chronyPath[SocketPathSize];
  int chronySocket;  // unbound datagram socket; -1: none yet
  int chronyFailing;
  int chronyLast;  // the last send's outcome: 0, FeedRefused, an error code or NoSampleYet
  int32_t shmUnit;
  int shmId;  // the segment attached at shm; -1: none
  NtpShmSegment* shm;
  int shmFailing;
  unsigned refusedOwner, refusedCreator, refusedMode;  // of the segment last refused
  int64_t shmAloneSinceMs;  // monotonic ms since no reader was attached; -1: one was
  int shmAloneLogged;
  int shmReaders;  // readers attached at the last sample; -1 before one
};
static const ReferenceFeedRecord StoppedFeed = {
    {0}, -1, 0, NoSampleYet, -1, -1, NULL, 0, 0, 0, 0, -1, 0, -1};
static ReferenceFeedRecord Feed = StoppedFeed;

void FillChronySockRecord(const ReferenceSample* sample, ChronySockRecord* record) {
  memset(record, 0, sizeof *record);
  record->tv.tv_sec = (time_t)sample->systemSeconds;
  record->tv.tv_usec = (suseconds_t)(sample->systemNanoseconds / 1000);
  record->offset = sample->offset;
  record->leap = sample->leap;
  record->magic = ChronySockMagic;
}

int NtpShmMode(int unit) { return unit <= 1 ? 0600 : 0666; }

int NtpShmTrusted(int unit, uid_t owner, uid_t creator, unsigned mode, uid_t self) {
  return (owner == 0 || owner == self) && (creator == 0 || creator == self) &&
         (unit > 1 || (mode & 022u) == 0);
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

// Sends one datagram without waiting. Returns 0, FeedRefused (nothing sent)
// when something other than a socket is at the path, or the error code.
static int SendToChrony(const ReferenceSample* sample) {
  struct stat found;
  if (Os.LinkStatus(Feed.chronyPath, &found) == 0 && !S_ISSOCK(found.st_mode)) return FeedRefused;
  if (Feed.chronySocket < 0) {
    // Not inherited, never blocking: set by fcntl, as POSIX has them.
    Feed.chronySocket = Os.Socket(AF_UNIX, SOCK_DGRAM, 0);
    if (Feed.chronySocket < 0) return errno;
    if (Os.FileControl(Feed.chronySocket, F_SETFD, FD_CLOEXEC) != 0 ||
        Os.FileControl(Feed.chronySocket, F_SETFL, O_NONBLOCK) != 0) {
      int error = errno;
      Os.CloseDevice(Feed.chronySocket);
      Feed.chronySocket = -1;
      return error;
    }
  }
  // The path each time: a restarted chronyd makes a new socket there.
  struct sockaddr_un address;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path, Feed.chronyPath, sizeof address.sun_path);
  ChronySockRecord record;
  FillChronySockRecord(sample, &record);
  ssize_t sent = Os.SendTo(Feed.chronySocket, &record, sizeof record, MSG_NOSIGNAL,
                           (const struct sockaddr*)&address, sizeof address);
  if (sent < 0) return errno;
  return (size_t)sent == sizeof record ? 0 : EMSGSIZE;
}

static void DetachShm(void) {
  if (Feed.shm != NULL) Os.ShmDetach((const void*)Feed.shm);
  Feed.shm = NULL;
  Feed.shmId = -1;
}

// Makes Feed.shm the segment now under the unit's key, created when missing,
// so one made anew by a restarted daemon is attached afresh. Returns 0, or
// FeedRefused (owner, creator and mode kept) or the error code, with nothing
// attached.
static int AttachShm(void) {
  key_t key = (key_t)(NtpShmKeyBase + Feed.shmUnit);
  int id = Os.ShmGet(key, sizeof(NtpShmSegment), IPC_CREAT | NtpShmMode(Feed.shmUnit));
  if (id >= 0 && id == Feed.shmId) return 0;
  int error = 0;
  struct shmid_ds info;
  void* at = NULL;
  if (id < 0 || Os.ShmControl(id, IPC_STAT, &info) != 0) {
    error = errno;
  } else if (!NtpShmTrusted((int)Feed.shmUnit, info.shm_perm.uid, info.shm_perm.cuid,
                            (unsigned)info.shm_perm.mode, Os.EffectiveUser())) {
    error = FeedRefused;
    Feed.refusedOwner = (unsigned)info.shm_perm.uid;
    Feed.refusedCreator = (unsigned)info.shm_perm.cuid;
    Feed.refusedMode = (unsigned)info.shm_perm.mode & 0777u;
  } else if ((at = Os.ShmAttach(id, NULL, 0)) == (void*)-1) {
    error = errno;
  }
  DetachShm();
  if (error == 0) {
    Feed.shm = (NtpShmSegment*)at;
    Feed.shmId = id;
  }
  return error;
}

// Nobody listens at the path: no socket, or one nobody reads any more.
static int NobodyReading(int error) { return error == ENOENT || error == ECONNREFUSED; }

// Logs the first failure of a feed and its first success after one.
static void NoteChronyOutcome(int error) {
  Feed.chronyLast = error;
  if ((error != 0) == (Feed.chronyFailing != 0)) return;
  Feed.chronyFailing = error != 0;
  if (error == 0) {
    LogMessage("chrony socket %s works again", Feed.chronyPath);
  } else if (error == FeedRefused) {
    LogMessage("chrony socket %s refused: not a socket", Feed.chronyPath);
  } else if (NobodyReading(error)) {
    LogMessage("chrony socket %s: nobody reading (error %d)", Feed.chronyPath, error);
  } else {
    LogMessage("chrony socket %s: error %d", Feed.chronyPath, error);
  }
}

static void NoteShmOutcome(int error) {
  if ((error != 0) == (Feed.shmFailing != 0)) return;
  Feed.shmFailing = error != 0;
  if (error == 0) {
    LogMessage("NTP shared memory unit %d works again", (int)Feed.shmUnit);
  } else if (error == FeedRefused) {
    LogMessage("NTP shared memory unit %d refused: owner uid %u, creator uid %u, mode %03o",
               (int)Feed.shmUnit, Feed.refusedOwner, Feed.refusedCreator, Feed.refusedMode);
  } else {
    LogMessage("NTP shared memory unit %d: error %d", (int)Feed.shmUnit, error);
  }
}

// After a sample: logs once a segment with no reader but the feed for
// ShmAloneLimitMs, and once a reader's coming after that.
static void NoteShmReaders(void) {
  struct shmid_ds info;
  if (Os.ShmControl(Feed.shmId, IPC_STAT, &info) != 0) return;
  int64_t now = MonotonicMs();
  int unit = (int)Feed.shmUnit;
  Feed.shmReaders = (int)info.shm_nattch - 1;
  if (info.shm_nattch > 1) {
    if (Feed.shmAloneLogged) LogMessage("NTP shared memory unit %d: a reader attached", unit);
    Feed.shmAloneSinceMs = -1;
    Feed.shmAloneLogged = 0;
  } else if (Feed.shmAloneSinceMs < 0) {
    Feed.shmAloneSinceMs = now;
  } else if (!Feed.shmAloneLogged && now - Feed.shmAloneSinceMs >= ShmAloneLimitMs) {
    Feed.shmAloneLogged = 1;
    LogMessage("NTP shared memory unit %d: no reader attached for 2 min", unit);
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
  DetachShm();
  Feed = StoppedFeed;
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
