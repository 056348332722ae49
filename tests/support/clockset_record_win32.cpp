// Takes the place of the Windows clock setting in dcfsync_recorded.exe, the
// program the accuracy benchmark runs under Wine (where the real call would
// refuse any change over half a second): appends one line
//   "0 seconds nanoseconds realSeconds realNanoseconds"
// to the file named by DCFSYNC_SETTIME_RECORD, the instant asked for and the
// system time at the call, both since 1970 (UTC), and reports success.
// Without that variable it refuses as Windows does without the right to set
// the clock (1314). The rate adjustments likewise (below).
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "clock/adjust.h"
#include "clock/pcclock.h"

int SetPcUtcTime(int64_t seconds, int32_t milliseconds, uint32_t* errorCode) {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  const char* record = getenv("DCFSYNC_SETTIME_RECORD");
  FILE* file = record != NULL ? fopen(record, "a") : NULL;
  if (file == NULL) {
    *errorCode = ERROR_PRIVILEGE_NOT_HELD;
    return 0;
  }
  // FILETIME: 100 ns since 1601.
  long long ticks = (long long)(((unsigned long long)now.dwHighDateTime << 32) | now.dwLowDateTime);
  long long since1970 = ticks - 116444736000000000LL;
  fprintf(file, "0 %lld %ld %lld %ld\n", (long long)seconds, (long)milliseconds * 1000000L,
          since1970 / 10000000, (long)(since1970 % 10000000) * 100L);
  fclose(file);
  return 1;
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

int AdjustPcClock(double frequencyPpm, double slewMs, double slewRatePpm, uint32_t* errorCode) {
  char line[96];
  snprintf(line, sizeof line, "adjust %.3f %.3f %.3f\n", frequencyPpm, slewMs, slewRatePpm);
  if (RecordAdjustment(line)) return 1;
  *errorCode = ERROR_PRIVILEGE_NOT_HELD;
  return 0;
}

int EndPcClockSlew(double frequencyPpm, uint32_t* errorCode) {
  char line[64];
  snprintf(line, sizeof line, "end %.3f\n", frequencyPpm);
  if (RecordAdjustment(line)) return 1;
  *errorCode = ERROR_PRIVILEGE_NOT_HELD;
  return 0;
}

SlewStyle PcClockSlewStyle(void) { return SlewSpread; }
