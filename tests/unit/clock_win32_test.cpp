// Setting the clock on Windows: the UTC instant becomes the system time
// handed to SetSystemTime, whose place in the system-call table a recorder
// takes here, so the clock is never set (and under Wine never could be); and
// the tick adjustment of the clock discipline, likewise recorded.
#include <gtest/gtest.h>
#include <stdio.h>
#include <windows.h>

#include <thread>

#include "clock/discipline_adjust.h"
#include "clock/pcclock.h"
#include "driver/driver.h"
#include "os/oscalls_win32.h"
#include "os/wake.h"

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
  EXPECT_EQ(AdjustPcClock(20.0, 3.0, 100.0), 0);
  EXPECT_EQ(Tick.adjustment, (DWORD64)156238);  // 156250 x (1 - 80 ppm), rounded
  EXPECT_EQ(Tick.disabled, FALSE);
  EXPECT_EQ(AdjustPcClock(20.0, -3.0, 100.0), 0);
  EXPECT_EQ(Tick.adjustment, (DWORD64)156269);  // x (1 + 120 ppm)
  EXPECT_EQ(EndPcClockSlew(20.0), 0);
  EXPECT_EQ(Tick.adjustment, (DWORD64)156253);  // x (1 + 20 ppm)
  EXPECT_EQ(Tick.preciseSets, 3);
  EXPECT_EQ(PcClockSlewStyle(), SlewSpread);

  // Without the precise calls: the older pair.
  Os.SetSystemTimeAdjustmentPrecise = NULL;
  Os.GetSystemTimeAdjustmentPrecise = NULL;
  Os.SetSystemTimeAdjustment = RecordLegacySet;
  Os.GetSystemTimeAdjustment = RecordLegacyGet;
  EXPECT_EQ(AdjustPcClock(-50.0, 0.0, 0.0), 0);
  EXPECT_EQ(Tick.legacySets, 1);
  EXPECT_EQ(Tick.adjustment, (DWORD64)99995);
  Tick.failWith = ERROR_PRIVILEGE_NOT_HELD;
  EXPECT_EQ(EndPcClockSlew(-50.0), ERROR_PRIVILEGE_NOT_HELD);
}

// SeSystemtimePrivilege enabled in the process's token; an account without it
// (ERROR_NOT_ALL_ASSIGNED, the call succeeding) or a failed call gives the
// error; with the right, the tick adjustment goes back to the system's own.
struct PrivilegeRecord {
  int step;     // the call that fails: 1 open, 2 lookup, 3 adjust, 4 not all assigned
  char name[64];
  DWORD attributes;
  int closed;
} Privilege;

BOOL WINAPI RecordOpenToken(HANDLE, DWORD access, PHANDLE token) {
  *token = (HANDLE)(intptr_t)42;
  if (Privilege.step == 1) SetLastError(ERROR_ACCESS_DENIED);
  return Privilege.step != 1 && (access & TOKEN_ADJUST_PRIVILEGES) != 0;
}
BOOL WINAPI RecordLookup(LPCSTR, LPCSTR name, PLUID luid) {
  snprintf(Privilege.name, sizeof Privilege.name, "%s", name);
  *luid = LUID{12, 0};
  if (Privilege.step == 2) SetLastError(ERROR_NO_SUCH_PRIVILEGE);
  return Privilege.step != 2;
}
BOOL WINAPI RecordAdjustToken(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES privileges, DWORD,
                              PTOKEN_PRIVILEGES, PDWORD) {
  if (token != (HANDLE)(intptr_t)42 || disableAll || privileges->PrivilegeCount != 1 ||
      privileges->Privileges[0].Luid.LowPart != 12) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Privilege.attributes = privileges->Privileges[0].Attributes;
  SetLastError(Privilege.step == 3 ? ERROR_ACCESS_DENIED
               : Privilege.step == 4 ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS);
  return Privilege.step != 3;
}
BOOL WINAPI RecordClose(HANDLE token) {
  Privilege.closed += token == (HANDLE)(intptr_t)42;
  return TRUE;
}

TEST(TickAdjustment, TheRightToAdjustIsEnabledOnceAtStart) {
  const struct {
    int step;
    DWORD code;
  } cases[] = {{0, 0}, {1, ERROR_ACCESS_DENIED}, {2, ERROR_NO_SUCH_PRIVILEGE},
               {3, ERROR_ACCESS_DENIED}, {4, ERROR_NOT_ALL_ASSIGNED}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step);
    Privilege = PrivilegeRecord();
    Privilege.step = c.step;
    Tick = TickRecord();
    Os.OpenProcessToken = RecordOpenToken;
    Os.LookupPrivilegeValueA = RecordLookup;
    Os.AdjustTokenPrivileges = RecordAdjustToken;
    Os.CloseHandle = RecordClose;
    Os.SetSystemTimeAdjustmentPrecise = RecordPreciseSet;
    Os.GetSystemTimeAdjustmentPrecise = RecordPreciseGet;
    EXPECT_EQ(PreparePcClockAdjust(), (int)c.code);
    if (c.step != 1) {
      EXPECT_STREQ(Privilege.name, "SeSystemtimePrivilege");
      EXPECT_EQ(Privilege.closed, 1);
    }
    if (c.step == 0 || c.step == 4) {
      EXPECT_EQ(Privilege.attributes, (DWORD)SE_PRIVILEGE_ENABLED);
    }
    EXPECT_EQ(Tick.preciseSets, c.code == 0 ? 1 : 0);  // the system's own, only with the right
    if (c.code == 0) {
      EXPECT_EQ(Tick.disabled, TRUE);
    }
    ResetOsCalls();
  }
}

// Close, logoff and shutdown end the run like Ctrl-C: the handler records the
// request and waits for the end (here for ever, in a thread of its own);
// Ctrl-C and Ctrl-Break it leaves to the C runtime.
PHANDLER_ROUTINE ConsoleHandler;
BOOL WINAPI RecordConsoleHandler(PHANDLER_ROUTINE handler, BOOL add) {
  ConsoleHandler = add ? handler : NULL;
  return TRUE;
}

TEST(ConsoleEvents, CloseLogoffAndShutdownEndTheRunLikeCtrlC) {
  Os.SetConsoleCtrlHandler = RecordConsoleHandler;
  ASSERT_EQ(InstallInterruptHandler(), 0);
  ResetOsCalls();
  ASSERT_NE(ConsoleHandler, nullptr);
  const struct {
    DWORD event;
    bool ends;
  } cases[] = {{CTRL_C_EVENT, false}, {CTRL_BREAK_EVENT, false}, {CTRL_CLOSE_EVENT, true},
               {CTRL_LOGOFF_EVENT, true}, {CTRL_SHUTDOWN_EVENT, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.event);
    ASSERT_EQ(StartWake(), 0);
    if (c.ends) {
      std::thread([&c] { ConsoleHandler(c.event); }).detach();
      EXPECT_EQ(WaitForWake(5000), 1);
    } else {
      EXPECT_EQ(ConsoleHandler(c.event), FALSE);
    }
    EXPECT_EQ(WakeRequested(), c.ends ? 1 : 0);
    StopWake();
  }
}

}  // namespace
