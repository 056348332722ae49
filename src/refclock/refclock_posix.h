// The two records the POSIX feed hands to a time daemon, and their filling,
// exposed for their tests.
#ifndef DCFSYNC_REFCLOCK_REFCLOCK_POSIX_H
#define DCFSYNC_REFCLOCK_REFCLOCK_POSIX_H

#include <stdint.h>
#include <sys/time.h>
#include <sys/types.h>
#include <time.h>

#include "refclock/refclock.h"

// One datagram to chronyd's SOCK reference-clock socket, in the machine's
// own layout (chronyd reads it as it comes): tv the system time of the
// sample, offset reference - system in seconds, pulse 0 (a whole time, not
// a pulse), leap, pad 0, magic ChronySockMagic. 40 bytes on 64-bit Linux;
// chronyd drops a datagram of any other length or magic.
struct ChronySockRecord {
  struct timeval tv;
  double offset;
  int pulse;
  int leap;
  int pad;
  int magic;
};
enum { ChronySockMagic = 0x534f434b };

// Fills record from sample (every byte, padding too).
void FillChronySockRecord(const ReferenceSample* sample, ChronySockRecord* record);

// The NTP shared-memory segment, as ntpd, ntpsec and chronyd read it. The
// writer uses mode 1: a reader takes the sample only when valid is set and
// count is the same before and after its reading. clockTimeStamp is the
// reference time, receiveTimeStamp the system time.
struct NtpShmSegment {
  int mode;
  volatile int count;
  time_t clockTimeStampSec;
  int clockTimeStampUSec;
  time_t receiveTimeStampSec;
  int receiveTimeStampUSec;
  int leap;
  int precision;  // log2 of the resolution in seconds
  int nsamples;
  volatile int valid;
  unsigned clockTimeStampNSec;
  unsigned receiveTimeStampNSec;
  int dummy[8];
};
enum {
  NtpShmKeyBase = 0x4e545030,  // "NTP0": unit u has key NtpShmKeyBase + u
  NtpShmPrecision = -7         // 2^-7 s, about the module's 10 ms
};

// Permissions a unit's segment is created with: 0600 for units 0 and 1,
// 0666 for 2 and above, as ntpd creates them.
int NtpShmMode(int unit);

// Whether a unit's segment found (or made) under its key may be used by a
// program running as user self: its owner and its creator must each be
// root or self (a segment made by another user, even one handed to root
// afterwards, is that user's to write into), and for units 0 and 1,
// which only root and the program may write, group and others must have
// no write permission (mode & 022 is 0). Returns 1 when it may, else 0.
int NtpShmTrusted(int unit, uid_t owner, uid_t creator, unsigned mode, uid_t self);

// Called between the steps of WriteNtpShmSample; a full memory barrier
// (std::atomic_thread_fence) unless a test puts an observer in its place.
typedef void (*NtpShmBarrierFunction)(void);
extern NtpShmBarrierFunction NtpShmBarrier;

// Writes sample into segment in mode 1, each step followed by NtpShmBarrier:
// valid = 0; count + 1; mode 1, both time stamps (ns and, truncated, µs),
// leap, precision NtpShmPrecision, nsamples 0; count + 1; valid = 1 (no
// barrier after the last step). dummy is left alone.
void WriteNtpShmSample(NtpShmSegment* segment, const ReferenceSample* sample);

#endif
