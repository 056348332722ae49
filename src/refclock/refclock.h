// The feed to the time daemon: each trusted telegram's sample goes to chronyd's
// SOCK socket and NTP shared memory (POSIX only; sample.cpp is portable).
#ifndef DCFSYNC_REFCLOCK_REFCLOCK_H
#define DCFSYNC_REFCLOCK_REFCLOCK_H

#include <stddef.h>
#include <stdint.h>

#include "clock/evaluate.h"

enum { LeapNone = 0, LeapInsert = 1 };

// When the PC clock read systemSeconds.systemNanoseconds, UTC was
// referenceSeconds.referenceNanoseconds (seconds since 1970).
struct ReferenceSample {
  int64_t referenceSeconds;
  int32_t referenceNanoseconds;
  int64_t systemSeconds;
  int32_t systemNanoseconds;
  int32_t leap;   // LeapNone or LeapInsert
  double offset;  // reference - system, in seconds
};

// Fills sample from the decision's sample and returns 1; 0 for an instant
// before 1970 or capture milliseconds above 999. LeapInsert when A2 is set
// and the instant lies in the last UTC hour of 30 June or 31 December.
int MakeReferenceSample(const TelegramSample* in, ReferenceSample* sample);

// Restarts the feed from Settings. A path too long for a socket or a unit
// outside -1..255 turns that feed off with one log line.
void StartReferenceFeed(void);

// Hands the sample to each feed that is on, never waiting. Each logs once
// when it starts failing or reaching nobody, and once when it works again.
void FeedReferenceClock(const TelegramSample* in);

// What the feed reaches, for the status line; empty when no feed is on.
void DescribeReferenceFeed(char* text, size_t size);

// Closes the socket and detaches the segment.
void StopReferenceFeed(void);

#endif
