// Adjusting the PC clock's rate: what the clock discipline (discipline.h)
// asks of the platform (adjust_*.cpp), through the system-call table. Each
// returns 0 or the system's error number.
#ifndef DCFSYNC_CLOCK_ADJUST_H
#define DCFSYNC_CLOCK_ADJUST_H

#include "clock/discipline.h"

// Once, before any other adjustment. Windows: enables the right to set the
// clock (SE_SYSTEMTIME_NAME) in the process's token and hands the tick
// adjustment back to the system, ending any slew a run ended from outside
// left in force. POSIX: nothing (the kernel ends its single-shot slew).
int PreparePcClockAdjust(void);

// Puts the frequency correction frequencyPpm in force (positive: the clock
// runs faster) and starts a slew of slewMs (positive: the clock is ahead
// and held back) at slewRatePpm, replacing what is left of an earlier one.
// POSIX slews at the kernel's 500 ppm whatever slewRatePpm says.
int AdjustPcClock(double frequencyPpm, double slewMs, double slewRatePpm);

// Ends a slew in progress, leaving frequencyPpm in force.
int EndPcClockSlew(double frequencyPpm);

// SlewAtKernelRate on POSIX, SlewSpread on Windows.
SlewStyle PcClockSlewStyle(void);

#endif
