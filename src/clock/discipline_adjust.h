// Adjusting the PC clock's rate as the discipline commands, through the
// system-call table. Each returns 0 or the system's error number.
#ifndef DCFSYNC_CLOCK_DISCIPLINE_ADJUST_H
#define DCFSYNC_CLOCK_DISCIPLINE_ADJUST_H

#include "clock/discipline.h"

// Once, first. Windows: enables the right to set the clock and hands the tick
// adjustment (left by a run ended from outside) back to the system.
int PreparePcClockAdjust(void);

// Puts frequencyPpm in force (positive: faster) and starts a slew of slewMs
// (positive: held back) at slewRatePpm (POSIX: the kernel's), replacing any slew.
int AdjustPcClock(double frequencyPpm, double slewMs, double slewRatePpm);

int EndPcClockSlew(double frequencyPpm);  // frequencyPpm stays in force
SlewStyle PcClockSlewStyle(void);

#endif
