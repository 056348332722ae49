// The feed to the system's time daemon: every trusted telegram (the poll's
// decision, clock/evaluate.h) becomes one sample of reference time against
// system time, handed to chronyd through its SOCK reference-clock socket
// (ChronySocket) and to any NTP daemon through the NTP shared-memory segment
// (NtpShmUnit). The daemon filters the samples and steers the clock;
// DCFSetTime does not matter here.
//
// The sample arithmetic is portable (sample.cpp). The feed itself has one
// implementation per platform: POSIX sends and writes the samples, Windows
// reads the two keys and ignores them.
#ifndef DCFSYNC_REFCLOCK_REFCLOCK_H
#define DCFSYNC_REFCLOCK_REFCLOCK_H

#include <stddef.h>
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

// Starts the feed from the settings (ChronySocket, NtpShmUnit) after
// LoadSettings, stopping one that runs. A path that does not fit a socket
// address, or a unit outside -1..NtpShmUnitLimit, turns that feed off with
// one log line (-1 is off, silently). The segment is attached at once.
void StartReferenceFeed(void);

// Hands the sample of a trusted telegram (MakeReferenceSample; nothing when
// it cannot be fed) to each feed that is on, never waiting for the daemon. Each feed
// logs one line when it starts failing or reaches nobody (no socket or no
// daemon behind it; a segment no reader attached to for 2 minutes), none
// while it stays so, and one when it works again. What it finds and will
// not use counts as failing: a path that is no socket; a segment not made and
// owned by root or the program's own user (NtpShmTrusted). A failure of the
// feed leaves the run's status alone.
void FeedReferenceClock(const TelegramSample* in);

// What the feed reaches, for the status line: e.g. "chrony reading",
// "chrony nobody reading", "shm unit 2 reading", "shm unit 2 no reader";
// both joined by ", "; empty when no feed is on (always on Windows).
void DescribeReferenceFeed(char* text, size_t size);

// Closes the socket and detaches the segment; every feed is off until the
// next StartReferenceFeed. Does nothing when no feed runs.
void StopReferenceFeed(void);

#endif
