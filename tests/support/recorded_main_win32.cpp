// dcfsync_recorded.exe, the program the accuracy benchmark runs under Wine
// (where the real call would refuse any change over half a second): the
// program as it is, with a recorder in the system-call table's place of
// SetSystemTime. The recorder appends one line
//   "0 seconds nanoseconds realSeconds realNanoseconds"
// to the file named by DCFSYNC_SETTIME_RECORD, the instant asked for and the
// system time at the call, both since 1970 (UTC), and reports success.
// Without that variable it refuses as Windows does without the right to set
// the clock (1314). The rate adjustments likewise (below), in place of the
// platform's own, which only the program itself links.
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "clock/adjust.h"
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

// The rate adjustments of the clock discipline, recorded the same way in the
// file named by DCFSYNC_ADJUST_RECORD, one line each:
//   "adjust frequencyPpm slewMs slewRatePpm" or "end frequencyPpm".
// Without that variable they are refused as without the right (1314).
static int RecordAdjustment(const char* line) {
  const char* record = getenv("DCFSYNC_ADJUST_RECORD");
  FILE* file = record != NULL ? fopen(record, "a") : NULL;
  if (file == NULL) return 0;
  fputs(line, file);
  fclose(file);
  return 1;
}

uint32_t AdjustPcClock(double frequencyPpm, double slewMs, double slewRatePpm) {
  char line[96];
  snprintf(line, sizeof line, "adjust %.3f %.3f %.3f\n", frequencyPpm, slewMs, slewRatePpm);
  return RecordAdjustment(line) ? 0 : ERROR_PRIVILEGE_NOT_HELD;
}

uint32_t EndPcClockSlew(double frequencyPpm) {
  char line[64];
  snprintf(line, sizeof line, "end %.3f\n", frequencyPpm);
  return RecordAdjustment(line) ? 0 : ERROR_PRIVILEGE_NOT_HELD;
}

SlewStyle PcClockSlewStyle(void) { return SlewSpread; }

int main(int argc, char** argv) {
  OpenStandardStreams();
  Os.SetSystemTime = RecordSystemTime;
  return RunProgram(argc, argv);
}
