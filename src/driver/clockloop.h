// The clock discipline's shell: carries the loop's commands (clock/
// discipline.h) out on the PC clock (clock/adjust.h), keeps the drift file
// and logs each correction. With ClockDiscipline at 0 none of it does
// anything and the clock is set as always.
#ifndef DCFSYNC_DRIVER_CLOCKLOOP_H
#define DCFSYNC_DRIVER_CLOCKLOOP_H

#include "clock/discipline.h"

enum {
  DriftWriteSeconds = 300  // the drift file is written at most this often
};

// After LoadSettings. With ClockDiscipline and DCFSetTime on: refuses the
// discipline with one log line when ChronySocket or NtpShmUnit hands the
// time to a daemon; else reads the drift file (Paths.drift; a missing one
// gives 0 ppm, a damaged one one log line and 0 ppm), puts its frequency in
// force and logs "Discipline: frequency ... ppm at start"; from then on the
// loop runs (RunningDiscipline).
void StartClockLoop(void);

// The loop's state while it runs, for the poll's decision to take its
// samples into (DisciplineSample); NULL when it does not.
DisciplineState* RunningDiscipline(void);

// Carries a command of DisciplineSample out while the loop runs: Adjust
// logs "Discipline: offset X ms, frequency Y ppm" (offset in the sign of
// "Time diff") and adjusts the clock; Nothing for an outlier logs
// "Discipline: sample dropped"; Step ends the slew (the set follows).
void ApplyDisciplineCommand(const DisciplineCommand* command);

// From the main flow about once a second: ends a slew the platform does not
// end by itself (Windows) when it is done, and writes the drift file when
// the frequency has changed and DriftWriteSeconds have passed since the
// last write ("Can't write" and the drift file's name when that fails).
void TendClockLoop(void);

// At the end of a run, also by Ctrl-C: stops a slew in progress, leaves the
// learned frequency in force (holdover) and writes the drift file.
// Afterwards the loop carries out nothing more. Writes no log line (the end
// by Ctrl-C calls it after the console's last line): a failure here goes
// unreported. Safe to call more than once.
void StopClockLoop(void);

#endif
