// dcfsync_recorded.exe, the program the accuracy benchmark runs under Wine
// (where the real call would refuse any change over half a second): the
// program as it is, with a recorder in the system-call table's place of
// SetSystemTime. The recorder appends one line
//   "0 seconds nanoseconds realSeconds realNanoseconds"
// to the file named by DCFSYNC_SETTIME_RECORD, the instant asked for and the
// system time at the call, both since 1970 (UTC), and reports success.
// Without that variable it refuses as Windows does without the right to set
// the clock (1314). The tick adjustment likewise (below).
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "driver/driver.h"
#include "os/oscalls_win32.h"

// FILETIME (100 ns since 1601) as 100 ns since 1970.
static long long Since1970(const FILETIME& time) {
  long long ticks =
      (long long)(((unsigned long long)time.dwHighDateTime << 32) | time.dwLowDateTime);
  return ticks - 116444736000000000LL;
}

static BOOL WINAPI RecordSystemTime(const SYSTEMTIME* utc) {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  FILETIME asked;
  const char* record = getenv("DCFSYNC_SETTIME_RECORD");
  FILE* file = record != NULL ? fopen(record, "a") : NULL;
  if (file == NULL || !SystemTimeToFileTime(utc, &asked)) {
    if (file != NULL) fclose(file);
    SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return FALSE;
  }
  long long instant = Since1970(asked);
  long long real = Since1970(now);
  fprintf(file, "0 %lld %ld %lld %ld\n", instant / 10000000, (long)(instant % 10000000) * 100L,
          real / 10000000, (long)(real % 10000000) * 100L);
  fclose(file);
  return TRUE;
}

// The tick adjustment of the clock discipline, recorded the same way in the
// file named by DCFSYNC_ADJUST_RECORD, one line a call:
//   "rate ppm" (the tick's rate against its length of 156250) or "system"
//   (handed back to the system's own adjustment).
// Without that variable it is refused as without the right (1314).
static BOOL WINAPI RecordAdjustment(DWORD64 adjustment, BOOL disabled) {
  const char* record = getenv("DCFSYNC_ADJUST_RECORD");
  FILE* file = record != NULL ? fopen(record, "a") : NULL;
  if (file == NULL) {
    SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return FALSE;
  }
  if (disabled) {
    fputs("system\n", file);
  } else {
    fprintf(file, "rate %.3f\n", ((double)adjustment / 156250.0 - 1.0) * 1e6);
  }
  fclose(file);
  return TRUE;
}

static BOOL WINAPI TickOf156250(PDWORD64 adjustment, PDWORD64 increment, PBOOL disabled) {
  *adjustment = *increment = 156250;
  *disabled = TRUE;
  return TRUE;
}

int main(int argc, char** argv) {
  OpenStandardStreams();
  Os.SetSystemTime = RecordSystemTime;
  Os.SetSystemTimeAdjustmentPrecise = RecordAdjustment;
  Os.GetSystemTimeAdjustmentPrecise = TickOf156250;
  return RunProgram(argc, argv);
}
