// The clock discipline's shell: carries the loop's commands (clock/
// discipline.h) out on the PC clock (clock/adjust.h), keeps the drift file
// (Paths.drift) and logs each correction. Main flow only.
#ifndef DCFSYNC_DRIVER_CLOCKLOOP_H
#define DCFSYNC_DRIVER_CLOCKLOOP_H

#include "clock/discipline.h"

enum {
  DriftWriteSeconds = 300  // the drift file is written at most this often
};

// After LoadSettings. With ClockDiscipline and DCFSetTime on and no time
// daemon fed, starts the loop from the drift file's frequency (0 without
// one), takes the right to adjust the clock and puts that frequency in
// force; else the loop stays off and the clock is set as always.
void StartClockLoop(void);

// The loop's state while it runs, for the poll's decision to take its
// samples into (DisciplineSample); NULL when it does not.
DisciplineState* RunningDiscipline(void);

// Carries a command of DisciplineSample out while the loop runs (a Step
// ends the slew; the set follows). Returns 0, or the error number of a
// refused adjustment: logged once, it stops the loop for the run, so the
// clock is set as without it and nothing learned after it is saved.
int ApplyDisciplineCommand(const DisciplineCommand* command);

// About once a second: ends a slew the platform does not end by itself
// (Windows) once it is done, and writes the drift file when the frequency
// changed and DriftWriteSeconds have passed since the last write.
void TendClockLoop(void);

// At every end of a run: ends the slew, leaves the learned frequency in
// force and writes the drift file. Logs nothing (an end by a signal calls it
// after the console's last line). Safe to call more than once.
void StopClockLoop(void);

#endif
