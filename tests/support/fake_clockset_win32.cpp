// Takes the place of SetSystemTime and the tick adjustment in the
// system-call table: records what would have been set or adjusted and never
// touches the machine's clock.
#include <string.h>
#include <windows.h>

#include "os/oscalls_win32.h"
#include "support/fake_clockset.h"
#include "support/filefaults.h"

FakeClockSet FakeClock;
FakeClockAdjust FakeAdjust;

static BOOL WINAPI RecordAdjust(DWORD64 adjustment, BOOL disabled) {
  ++FakeAdjust.calls;
  if (FakeAdjust.fail) {
    SetLastError((DWORD)FakeAdjust.failCode);
    return FALSE;
  }
  FakeAdjust.ratePpm = ((double)adjustment / 156250.0 - 1.0) * 1e6;
  FakeAdjust.disabled = disabled ? 1 : 0;
  return TRUE;
}

static BOOL WINAPI TickOf156250(PDWORD64 adjustment, PDWORD64 increment, PBOOL disabled) {
  *adjustment = *increment = 156250;
  *disabled = TRUE;
  return TRUE;
}


static BOOL WINAPI RecordClockSet(const SYSTEMTIME* utc) {
  ++FakeClock.calls;
  FILETIME file;
  if (SystemTimeToFileTime(utc, &file)) {
    // FILETIME: 100 ns since 1601.
    int64_t ticks = (int64_t)(((uint64_t)file.dwHighDateTime << 32) | file.dwLowDateTime);
    int64_t ms = ticks / 10000 - 11644473600000LL;
    FakeClock.seconds = ms / 1000;
    FakeClock.milliseconds = (int32_t)(ms % 1000);
  }
  if (FakeClock.fail) {
    SetLastError((DWORD)FakeClock.failCode);
    return FALSE;
  }
  return TRUE;
}

static void PutRecorders(void) {
  Os.SetSystemTime = RecordClockSet;
  Os.SetSystemTimeAdjustmentPrecise = RecordAdjust;
  Os.GetSystemTimeAdjustmentPrecise = TickOf156250;
}

void ResetFakeClock(void) {
  memset(&FakeClock, 0, sizeof FakeClock);
  memset(&FakeAdjust, 0, sizeof FakeAdjust);
  PutRecorders();
}

void ResetTestOsCalls(void) {
  ResetOsCalls();
  PutRecorders();
}
