// The feed to the system's time daemon: every trusted telegram (the poll's
// decision, clock/evaluate.h) becomes one sample of reference time against system time, handed to
// chronyd through its SOCK reference-clock socket (Settings.ChronySocket) and to any
// NTP daemon through the NTP shared-memory segment (NtpShmUnit). The daemon
// filters the samples and steers the clock; DCFSetTime does not matter here.
//
// The sample arithmetic is portable (sample.cpp). The feed itself has one
// implementation per platform: POSIX sends and writes the samples, Windows
// reads the two keys and ignores them.
#ifndef DCFSYNC_REFCLOCK_REFCLOCK_H
#define DCFSYNC_REFCLOCK_REFCLOCK_H

#include <stdint.h>

#include "clock/evaluate.h"

// Leap indicator of a sample, as chrony's SOCK records and the NTP
// shared-memory segment both carry it.
enum { LeapNone = 0, LeapInsert = 1 };

// Highest NTP shared-memory unit (ntpd's 127.127.28.u addresses end at 255).
enum { NtpShmUnitLimit = 255 };

// One sample: when the PC clock read systemSeconds.systemNanoseconds, the
// true time (UTC) was referenceSeconds.referenceNanoseconds.
struct ReferenceSample {
  int64_t referenceSeconds;      // UTC seconds since 1970 from the telegram
  int32_t referenceNanoseconds;  // 0..999999999
  int64_t systemSeconds;         // the PC clock at capture
  int32_t systemNanoseconds;     // 0..999999999
  int32_t leap;                  // LeapNone or LeapInsert
  double offset;                 // reference - system, in seconds
};

// Builds the time daemon's sample of the decision's sample (clock/evaluate.h)
// and returns 1, or returns 0 when it cannot be fed: an instant before 1970,
// or capture milliseconds outside 0..999. Leap: LeapInsert when A2 was set
// and the instant lies in the last UTC hour of 30 June or 31 December
// (DCF77 announces an inserted second with A2 during the hour before it).
int MakeReferenceSample(const TelegramSample* in, ReferenceSample* sample);

// Starts the feed from the settings (Settings.ChronySocket, Settings.NtpShmUnit),
// after LoadSettings, stopping a feed that runs. A socket path that does not
// fit a socket address whole is refused with one log line
// ("ChronySocket too long (N characters, at most M), feed off: PATH"); a unit
// other than -1 (off, silently) outside 0..NtpShmUnitLimit likewise
// ("NtpShmUnit N out of range 0..255, feed off"). The shared-memory segment
// is attached at once; a failure is logged as by FeedReferenceClock. A
// failure of the feed leaves the run's status alone.
void StartReferenceFeed(void);

// Hands the sample of a trusted telegram (see MakeReferenceSample; nothing
// when it cannot be fed) to each feed that is on. A feed that fails (chronyd's
// socket missing or refusing, the segment not attachable) is logged once
// when it starts failing ("chrony socket PATH: error N",
// "NTP shared memory unit U: error N"), retried silently at every later
// sample, and logged once when it works again ("chrony socket PATH works
// again", "NTP shared memory unit U works again"). What it finds and
// will not use counts as such a failure: something other than a socket at
// the path ("chrony socket PATH refused: not a socket"), a segment made or
// owned by another user than root or the program's own, or for units 0
// and 1 writable by others ("NTP shared memory unit U refused: owner uid
// O, creator uid C, mode M", the mode in octal). Never waits for the
// daemon. A failure of the feed leaves the run's status alone. The program
// hands it every trusted telegram (CarryOutDecision, driver/poll.cpp).
void FeedReferenceClock(const TelegramSample* in);

// Closes the socket and detaches the segment; every feed is off until the
// next StartReferenceFeed. Does nothing when no feed runs.
void StopReferenceFeed(void);

#endif
