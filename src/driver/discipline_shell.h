// The clock discipline's shell: carries the loop's commands (clock/
// discipline.h) out on the PC clock, keeps the drift file and logs each
// correction.
#ifndef DCFSYNC_DRIVER_DISCIPLINE_SHELL_H
#define DCFSYNC_DRIVER_DISCIPLINE_SHELL_H

#include <stdint.h>

#include "clock/discipline.h"

enum { DriftWriteSeconds = 300 };  // the drift file is written at most this often

struct DisciplineLoop {
  DisciplineState state;
  int32_t running;    // from StartClockLoop until StopClockLoop or a refused adjustment
  double goodPpm;     // the frequency of the last adjustment the system took
  double writtenPpm;  // in the drift file
  int64_t writtenMs;  // monotonic time of the last write
};

// After LoadSettings: with ClockDiscipline and DCFSetTime on and no time
// daemon fed, starts from the drift file's frequency and puts it in force;
// else the loop stays off.
void StartClockLoop(DisciplineLoop* loop);

// The loop's state while it runs; NULL when it does not.
DisciplineState* RunningDiscipline(DisciplineLoop* loop);

// Carries a command of DisciplineSample out while the loop runs. Returns 0,
// or the error number of a refused adjustment, which is logged once and
// stops the loop for the run.
int ApplyDisciplineCommand(DisciplineLoop* loop, const DisciplineCommand* command);

// About once a second: ends a finished slew (Windows) and writes the drift
// file when the frequency changed, at most every DriftWriteSeconds.
void TendClockLoop(DisciplineLoop* loop);

// At every end of a run: ends the slew, keeps the frequency in force, writes
// the drift file. Logs nothing; safe to call again.
void StopClockLoop(DisciplineLoop* loop);

#endif
