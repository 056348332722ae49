// Reading the PC clock on either platform: the reading is the clock now, and
// its zone fields agree with the local time the C library gives for it.
#include <gtest/gtest.h>
#include <time.h>

#include "clock/pcclock.h"

namespace {

// Seconds that local time is ahead of UTC at t, from the broken-down times.
long LocalAheadOfUtc(time_t t) {
  struct tm local = *localtime(&t);
  struct tm utc = *gmtime(&t);
  long dayShift = local.tm_yday - utc.tm_yday;
  if (local.tm_year != utc.tm_year) dayShift = local.tm_year > utc.tm_year ? 1 : -1;
  return dayShift * 86400 + (local.tm_hour - utc.tm_hour) * 3600L +
         (local.tm_min - utc.tm_min) * 60L + (local.tm_sec - utc.tm_sec);
}

TEST(PcClock, ReadingIsNowWithConsistentZoneFields) {
  time_t before = time(NULL);
  PcTime reading;
  ReadPcClock(&reading);
  time_t after = time(NULL);
  EXPECT_GE(reading.time, (int64_t)before);
  EXPECT_LE(reading.time, (int64_t)after);
  EXPECT_LT(reading.millitm, 1000);
  EXPECT_TRUE(reading.dstflag == 0 || reading.dstflag == 1) << reading.dstflag;
  // Standard offset west of UTC, less an hour of daylight saving, is local time.
  long expected = -reading.timezone * 60L + (reading.dstflag ? 3600L : 0L);
  EXPECT_EQ(LocalAheadOfUtc((time_t)reading.time), expected);
}

TEST(PcClock, ZoneOfAnInstantIsTheReadingsZone) {
  PcTime reading;
  ReadPcClock(&reading);
  PcTime described = reading;
  described.timezone = 12345;
  described.dstflag = 12345;
  DescribePcZone(&described);
  EXPECT_EQ(described.time, reading.time);
  EXPECT_EQ(described.millitm, reading.millitm);
  EXPECT_EQ(described.timezone, reading.timezone);
  EXPECT_EQ(described.dstflag, reading.dstflag);
  // Half a year on the standard offset is the same; the flag agrees with
  // the local time of that instant.
  described.time = reading.time + 182 * 86400;
  DescribePcZone(&described);
  EXPECT_EQ(described.timezone, reading.timezone);
  long expected = -described.timezone * 60L + (described.dstflag ? 3600L : 0L);
  EXPECT_EQ(LocalAheadOfUtc((time_t)described.time), expected);
}

TEST(PcClock, MillisecondsAdvance) {
  PcTime first, later;
  ReadPcClock(&first);
  // Wait until the clock has moved on by at least a few milliseconds.
  do {
    ReadPcClock(&later);
  } while (later.time * 1000 + later.millitm < first.time * 1000 + first.millitm + 5 &&
           later.time < first.time + 3);
  int64_t elapsed = (later.time * 1000 + later.millitm) - (first.time * 1000 + first.millitm);
  EXPECT_GE(elapsed, 5);
  EXPECT_LT(elapsed, 3000);
}

}  // namespace
