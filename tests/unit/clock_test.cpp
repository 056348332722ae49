// Reading the PC clock on either platform: the reading is the clock now.
#include <gtest/gtest.h>
#include <time.h>

#include "clock/pcclock.h"

namespace {

TEST(PcClock, ReadingIsNowInUtc) {
  time_t before = time(NULL);
  PcTime reading;
  ReadPcClock(&reading);
  time_t after = time(NULL);
  EXPECT_GE(reading.time, (int64_t)before);
  EXPECT_LE(reading.time, (int64_t)after);
  EXPECT_LT(reading.millitm, 1000);
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
