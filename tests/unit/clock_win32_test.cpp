// Setting the clock on Windows: the UTC instant becomes the system time
// handed to SetSystemTime, whose place in the system-call table a recorder
// takes here, so the clock is never set (and under Wine never could be); and
// the tick adjustment of the clock discipline, likewise recorded.
#include <gtest/gtest.h>
#include <windows.h>

#include "clock/adjust.h"
#include "clock/pcclock.h"
#include "os/oscalls_win32.h"

namespace {

struct Recorded {
  int calls;
  SYSTEMTIME value;
  DWORD failWith;  // 0: succeed
} Recorder;

BOOL WINAPI RecordSystemTime(const SYSTEMTIME* utc) {
  ++Recorder.calls;
  Recorder.value = *utc;
  if (Recorder.failWith != 0) {
    SetLastError(Recorder.failWith);
    return FALSE;
  }
  return TRUE;
}

class SetSystemTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Recorder = Recorded();
    Os.SetSystemTime = RecordSystemTime;
  }
  void TearDown() override { ResetOsCalls(); }
};

TEST_F(SetSystemTimeTest, TheUtcInstantIsSetAsItIsAroundBothChanges) {
  // Both passes of 02:30 on the autumn change day (00:30 and 01:30 UTC), the
  // first minute of summer time, a leap day and the first of 1970.
  const struct { int64_t seconds; int ms; WORD y, mo, dow, d, h, mi, s; } cases[] = {
      {1792888200, 250, 2026, 10, 0, 25, 0, 30, 0},
      {1792891800, 999, 2026, 10, 0, 25, 1, 30, 0},
      {1774746000, 0, 2026, 3, 0, 29, 1, 0, 0},
      {1835481599, 500, 2028, 2, 2, 29, 23, 59, 59},
      {0, 1, 1970, 1, 4, 1, 0, 0, 0},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(SetPcUtcTime(c.seconds, c.ms), 0) << c.seconds;
    const SYSTEMTIME& v = Recorder.value;
    EXPECT_EQ(v.wYear, c.y) << c.seconds;
    EXPECT_EQ(v.wMonth, c.mo) << c.seconds;
    EXPECT_EQ(v.wDayOfWeek, c.dow) << c.seconds;
    EXPECT_EQ(v.wDay, c.d) << c.seconds;
    EXPECT_EQ(v.wHour, c.h) << c.seconds;
    EXPECT_EQ(v.wMinute, c.mi) << c.seconds;
    EXPECT_EQ(v.wSecond, c.s) << c.seconds;
    EXPECT_EQ(v.wMilliseconds, c.ms) << c.seconds;
  }
  EXPECT_EQ(Recorder.calls, 5);
}

TEST_F(SetSystemTimeTest, RefusalsGiveTheSystemCode) {
  Recorder.failWith = ERROR_PRIVILEGE_NOT_HELD;  // 1314, as without the right
  EXPECT_EQ(SetPcUtcTime(1796736917, 500), 1314);

  // What no clock can take never reaches the system.
  Recorder = Recorded();
  const struct { int64_t seconds; int32_t ms; } impossible[] = {
      {-1, 0}, {1796736917, 1000}, {1796736917, -1}, {910670515200LL, 0}, {INT64_MAX, 0}};
  for (const auto& i : impossible) {
    EXPECT_EQ(SetPcUtcTime(i.seconds, i.ms), (int)ERROR_INVALID_PARAMETER)
        << i.seconds << " " << i.ms;
  }
  EXPECT_EQ(Recorder.calls, 0);
  // The last second SYSTEMTIME holds is still taken.
  EXPECT_EQ(SetPcUtcTime(910670515199LL, 999), 0);
  EXPECT_EQ(Recorder.value.wYear, 30827);
}

// The tick adjustment with recorders in place of the Win32 calls.
struct TickRecord {
  int preciseSets, legacySets;
  DWORD64 adjustment;
  BOOL disabled;
  DWORD failWith;
} Tick;

BOOL WINAPI RecordPreciseSet(DWORD64 adjustment, BOOL disabled) {
  ++Tick.preciseSets;
  Tick.adjustment = adjustment;
  Tick.disabled = disabled;
  if (Tick.failWith != 0) SetLastError(Tick.failWith);
  return Tick.failWith == 0;
}
BOOL WINAPI RecordPreciseGet(PDWORD64 adjustment, PDWORD64 increment, PBOOL disabled) {
  *adjustment = 156250;
  *increment = 156250;
  *disabled = TRUE;
  return TRUE;
}
BOOL WINAPI RecordLegacySet(DWORD adjustment, BOOL disabled) {
  ++Tick.legacySets;
  Tick.adjustment = adjustment;
  Tick.disabled = disabled;
  if (Tick.failWith != 0) SetLastError(Tick.failWith);
  return Tick.failWith == 0;
}
BOOL WINAPI RecordLegacyGet(PDWORD adjustment, PDWORD increment, PBOOL disabled) {
  *adjustment = 100000;
  *increment = 100000;
  *disabled = TRUE;
  return TRUE;
}

// The tick's length scaled by 1 + (frequency -+ slew rate) / 10^6, the slew
// slowing a clock that is ahead; the end of a slew leaves the frequency.
TEST(TickAdjustment, FrequencyAndSlewInOneRate) {
  Tick = TickRecord();
  Os.SetSystemTimeAdjustmentPrecise = RecordPreciseSet;
  Os.GetSystemTimeAdjustmentPrecise = RecordPreciseGet;
  EXPECT_EQ(AdjustPcClock(20.0, 3.0, 100.0), 0u);
  EXPECT_EQ(Tick.adjustment, (DWORD64)156238);  // 156250 x (1 - 80 ppm), rounded
  EXPECT_EQ(Tick.disabled, FALSE);
  EXPECT_EQ(AdjustPcClock(20.0, -3.0, 100.0), 0u);
  EXPECT_EQ(Tick.adjustment, (DWORD64)156269);  // x (1 + 120 ppm)
  EXPECT_EQ(EndPcClockSlew(20.0), 0u);
  EXPECT_EQ(Tick.adjustment, (DWORD64)156253);  // x (1 + 20 ppm)
  EXPECT_EQ(Tick.preciseSets, 3);
  EXPECT_EQ(PcClockSlewStyle(), SlewSpread);

  // Without the precise calls: the older pair.
  Os.SetSystemTimeAdjustmentPrecise = NULL;
  Os.GetSystemTimeAdjustmentPrecise = NULL;
  Os.SetSystemTimeAdjustment = RecordLegacySet;
  Os.GetSystemTimeAdjustment = RecordLegacyGet;
  EXPECT_EQ(AdjustPcClock(-50.0, 0.0, 0.0), 0u);
  EXPECT_EQ(Tick.legacySets, 1);
  EXPECT_EQ(Tick.adjustment, (DWORD64)99995);
  Tick.failWith = ERROR_PRIVILEGE_NOT_HELD;
  EXPECT_EQ(EndPcClockSlew(-50.0), (uint32_t)ERROR_PRIVILEGE_NOT_HELD);
}

}  // namespace
