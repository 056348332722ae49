// The records the POSIX feed hands to a time daemon, exposed for their tests.
#ifndef DCFSYNC_REFCLOCK_REFCLOCK_POSIX_H
#define DCFSYNC_REFCLOCK_REFCLOCK_POSIX_H

#include <sys/time.h>
#include <sys/types.h>
#include <time.h>

#include "refclock/refclock.h"

// One datagram to chronyd's SOCK socket, in the machine's own layout.
struct ChronySockRecord {
  struct timeval tv;  // system time
  double offset;      // reference - system, seconds
  int pulse;
  int leap;
  int pad;
  int magic;
};
enum { ChronySockMagic = 0x534f434b };

// Fills every byte of record, padding too.
void FillChronySockRecord(const ReferenceSample* sample, ChronySockRecord* record);

// The NTP shared-memory segment (mode 1: a reader takes a sample when valid
// is set and count is unchanged across its reading).
struct NtpShmSegment {
  int mode;
  volatile int count;
  time_t clockTimeStampSec;  // reference time
  int clockTimeStampUSec;
  time_t receiveTimeStampSec;  // system time
  int receiveTimeStampUSec;
  int leap;
  int precision;  // log2 of the resolution in seconds
  int nsamples;
  volatile int valid;
  unsigned clockTimeStampNSec;
  unsigned receiveTimeStampNSec;
  int dummy[8];
};
enum { NtpShmKeyBase = 0x4e545030 };  // "NTP0": unit u has key NtpShmKeyBase + u

// 0600 for units 0 and 1, 0666 above, as ntpd creates them.
int NtpShmMode(int unit);

// 1 when user self may use a unit's segment: owner and creator each root or
// self (another user's segment stays theirs even if handed to root), and for
// units 0 and 1 no write for group or others.
int NtpShmTrusted(int unit, uid_t owner, uid_t creator, unsigned mode, uid_t self);

// Writes sample in mode 1, Os.Barrier between: valid 0, count + 1, the
// fields, count + 1, valid 1.
void WriteNtpShmSample(NtpShmSegment* segment, const ReferenceSample* sample);

#endif
