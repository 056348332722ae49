// Recording stand-in for the system call that sets the PC clock
// (clock_settime, SetSystemTime), put in its place in the system-call table
// (os/oscalls_*.h); the program's own SetPcUtcTime runs as it is.
#ifndef DCFSYNC_TESTS_FAKE_CLOCKSET_H
#define DCFSYNC_TESTS_FAKE_CLOCKSET_H

#include <stdint.h>

#include "clock/pcclock.h"

struct FakeClockSet {
  int calls;               // how often the clock would have been set
  int64_t seconds;         // the last requested instant: seconds since 1970, UTC
  int32_t milliseconds;    // and its milliseconds
  int fail;                // non-zero: refuse with failCode
  uint32_t failCode;
};
extern FakeClockSet FakeClock;

// The rate adjustments (clock/adjust.h) that reached the system, recorded in
// the table's place of clock_adjtime (POSIX) or the tick adjustment's calls
// (Windows, a tick of 156250 units).
struct FakeClockAdjust {
  int calls;        // adjustments asked of the system
  double ratePpm;   // POSIX: the last frequency put in force; Windows: the tick's rate
  double slewMs;    // POSIX: the last single-shot slew (0: ended; positive: held back)
  int disabled;     // Windows: the last call handed the adjustment back to the system
  int fail;         // non-zero: refuse with failCode
  uint32_t failCode;
};
extern FakeClockAdjust FakeAdjust;

// Puts failing stand-ins for the file calls in the table: the open for
// writing, the text, the flush to the disk or the rename fails with code
// (FileNone: none fails). ResetTestOsCalls puts the system's back.
enum FileCallFault { FileNone = 0, FileOpenForWrite, FileText, FileSync, FileReplace };
void FailFileCall(int fault, int code);

// Clears the records and puts the recorders in the table.
void ResetFakeClock(void);

// The system's own calls in the table, but the recorders for the clock's
// setting and adjustment: what a test puts back after replacing calls of its own.
void ResetTestOsCalls(void);

#endif
