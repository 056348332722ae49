// The Windows wait for a pulse receiver's status line, through recording
// stand-ins in the system-call table (a pseudo-terminal under Wine has no
// status lines to wait for).
#include "os/oscalls_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/settings.h"
#include "link/port.h"
#include "os/wake.h"
#include "support/testutil.h"

namespace {

HANDLE const FakePort = (HANDLE)(intptr_t)0x4242;
HANDLE const FakeEvent = (HANDLE)(intptr_t)0x5151;

struct Recording {
  std::vector<std::string> calls;
  std::vector<DWORD> masks;
  DWORD status[2];  // GetCommModemStatus: before, after
  int statusCalls;
  BOOL statusOk, waitNow;  // waitNow: WaitCommEvent completes at once
  DWORD waitError, woken;  // its error when it does not; WaitForMultipleObjects' answer
  DWORD waitedMs, handles, flags;
} rec;

BOOL WINAPI FakeStatus(HANDLE, LPDWORD s) {
  rec.calls.push_back("GetCommModemStatus");
  *s = rec.status[rec.statusCalls++ > 0];
  return rec.statusOk;
}
BOOL WINAPI FakeMask(HANDLE, DWORD mask) {
  rec.calls.push_back("SetCommMask");
  rec.masks.push_back(mask);
  return TRUE;
}
HANDLE WINAPI FakeCreateEvent(LPSECURITY_ATTRIBUTES, BOOL manual, BOOL, LPCSTR) {
  EXPECT_TRUE(manual);
  return FakeEvent;
}
BOOL WINAPI FakeWaitCommEvent(HANDLE h, LPDWORD, LPOVERLAPPED overlapped) {
  rec.calls.push_back("WaitCommEvent");
  EXPECT_EQ(FakePort, h);
  EXPECT_EQ(FakeEvent, overlapped->hEvent);
  return rec.waitNow;
}
DWORD WINAPI FakeLastError(void) { return rec.waitError; }
DWORD WINAPI FakeWaitMultiple(DWORD count, const HANDLE* handles, BOOL all, DWORD ms) {
  rec.calls.push_back("WaitForMultipleObjects");
  EXPECT_FALSE(all);
  EXPECT_EQ(FakeEvent, handles[0]);
  rec.handles = count;
  rec.waitedMs = ms;
  return rec.woken;
}
BOOL WINAPI FakeCancel(HANDLE h, LPOVERLAPPED overlapped) {
  rec.calls.push_back("CancelIoEx");
  EXPECT_EQ(FakePort, h);
  EXPECT_EQ(FakeEvent, overlapped->hEvent);
  return TRUE;
}
BOOL WINAPI FakeOverlapped(HANDLE, LPOVERLAPPED, LPDWORD, BOOL wait) {
  rec.calls.push_back("GetOverlappedResult");
  EXPECT_TRUE(wait);
  return TRUE;
}
VOID WINAPI FakeClock(LPFILETIME t) {  // 2026-12-10 00:00:00.123456 UTC
  int64_t ticks = (1796947200LL * 1000000 + 123456) * 10 + 116444736000000000LL;
  t->dwLowDateTime = (DWORD)ticks;
  t->dwHighDateTime = (DWORD)(ticks >> 32);
}
BOOL WINAPI FakeClose(HANDLE h) {
  EXPECT_EQ(FakeEvent, h);
  rec.calls.push_back("CloseHandle");
  return TRUE;
}
HANDLE WINAPI FakeCreateFile(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD flags,
                             HANDLE) {
  rec.flags = flags;
  return FakePort;
}

void InstallFakes() {
  Os.GetCommModemStatus = FakeStatus;
  Os.SetCommMask = FakeMask;
  Os.CreateEventA = FakeCreateEvent;
  Os.WaitCommEvent = FakeWaitCommEvent;
  Os.GetLastError = FakeLastError;
  Os.WaitForMultipleObjects = FakeWaitMultiple;
  Os.GetOverlappedResult = FakeOverlapped;
  Os.CancelIoEx = FakeCancel;
  Os.GetSystemTimePreciseAsFileTime = FakeClock;
  Os.CloseHandle = FakeClose;
  Os.CreateFileA = FakeCreateFile;
}

TEST(PulseLineWin32, WaitsForTheLineAndStampsTheChange) {
  const std::vector<std::string> pending = {
      "GetCommModemStatus", "SetCommMask", "WaitCommEvent", "WaitForMultipleObjects",
      "GetOverlappedResult", "CloseHandle", "GetCommModemStatus"};
  struct Case {
    const char* name;
    int32_t line;
    DWORD before, after;
    BOOL waitNow;
    DWORD waitError, woken;
    int result, level;
    DWORD endMask;  // the mask of a second SetCommMask (ends a wait), or 1: none
  } cases[] = {
      {"DCD rises", PulseLineDcd, 0, MS_RLSD_ON, FALSE, ERROR_IO_PENDING, WAIT_OBJECT_0, 0, 1, 1},
      {"CTS falls", PulseLineCts, MS_CTS_ON, 0, FALSE, ERROR_IO_PENDING, WAIT_OBJECT_0, 0, 0, 1},
      {"DSR at once", PulseLineDsr, 0, MS_DSR_ON, TRUE, 0, WAIT_OBJECT_0, 0, 1, 1},
      {"RI, another line moved", PulseLineRi, 0, MS_CTS_ON, FALSE, ERROR_IO_PENDING,
       WAIT_OBJECT_0, 0, -1, 1},
      {"time-out", PulseLineDcd, 0, 0, FALSE, ERROR_IO_PENDING, WAIT_TIMEOUT, 0, -1, 0},
      {"Ctrl-C", PulseLineDcd, 0, 0, FALSE, ERROR_IO_PENDING, WAIT_OBJECT_0 + 1, 0, -1, 0},
      {"wait refused", PulseLineDcd, 0, 0, FALSE, ERROR_INVALID_PARAMETER, WAIT_OBJECT_0,
       ERROR_INVALID_PARAMETER, -1, 1},
  };
  const DWORD masks[4] = {EV_RLSD, EV_CTS, EV_DSR, EV_RING};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProgramState();
    ASSERT_EQ(0, StartWake());
    rec = Recording{{}, {}, {c.before, c.after}, 0, TRUE, c.waitNow, c.waitError, c.woken, 0, 0, 0};
    InstallFakes();
    Port.handle = (PortHandleValue)FakePort;
    int64_t mono = -7, wall = -7;
    int32_t level = 7;
    EXPECT_EQ(c.result, WaitLineChange(c.line, 750, &mono, &wall, &level));
    EXPECT_EQ(c.level, level);
    ASSERT_GE(rec.masks.size(), 1u);
    EXPECT_EQ(masks[c.line], rec.masks[0]);
    EXPECT_EQ(c.endMask == 1 ? 1u : 2u, rec.masks.size());
    EXPECT_EQ(c.endMask == 1 ? 0 : 1, (int)std::count(rec.calls.begin(), rec.calls.end(),
                                                      std::string("CancelIoEx")));
    if (c.level >= 0) {
      EXPECT_EQ(1796947200123456LL, wall);
      EXPECT_GE(mono, 0);
    }
    if (!c.waitNow && c.result == 0) {
      EXPECT_EQ(750u, rec.waitedMs);
      EXPECT_EQ(2u, rec.handles);  // the port's event and Ctrl-C's
      if (c.endMask == 1) {
        EXPECT_EQ(pending, rec.calls);
      }
    }
    Port.handle = InvalidPortHandle;
    StopWake();
  }
  ResetOsCalls();
}

TEST(PulseLineWin32, FailsWithoutAPortOrStatusAndOpensOverlapped) {
  ResetProgramState();
  rec = Recording{{}, {}, {0, 0}, 0, FALSE, FALSE, ERROR_GEN_FAILURE, 0, 0, 0, 0};  // no status
  int64_t mono, wall;
  int32_t level = 7;
  EXPECT_EQ(ERROR_INVALID_HANDLE, WaitLineChange(PulseLineDcd, 10, &mono, &wall, &level));
  EXPECT_EQ(-1, level);
  InstallFakes();
  Port.handle = (PortHandleValue)FakePort;
  EXPECT_EQ(ERROR_GEN_FAILURE, WaitLineChange(PulseLineDcd, 10, &mono, &wall, &level));
  Port.handle = InvalidPortHandle;
  for (int receiver : {0, 1}) {
    Settings.Receiver = receiver;
    EXPECT_EQ(0, OpenPort());
    EXPECT_EQ(receiver ? (DWORD)FILE_FLAG_OVERLAPPED : 0u, rec.flags);
    Port.handle = InvalidPortHandle;
  }
  ResetOsCalls();
}

}  // namespace
