// Takes the place of SetSystemTime in the system-call table: records what
// would have been set and never touches the machine's clock.
#include <string.h>
#include <windows.h>

#include "os/oscalls_win32.h"
#include "support/fake_clockset.h"

FakeClockSet FakeClock;

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

void ResetFakeClock(void) {
  memset(&FakeClock, 0, sizeof FakeClock);
  memset(&FakeAdjust, 0, sizeof FakeAdjust);
  Os.SetSystemTime = RecordClockSet;
}

void ResetTestOsCalls(void) {
  ResetOsCalls();
  Os.SetSystemTime = RecordClockSet;
}
