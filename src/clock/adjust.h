// Adjusting the PC clock's rate: what the clock discipline (discipline.h)
// asks of the platform. One implementation per platform (adjust_*.cpp),
// linked only into the program; the tests link recording stand-ins.
#ifndef DCFSYNC_CLOCK_ADJUST_H
#define DCFSYNC_CLOCK_ADJUST_H

#include <stdint.h>

#include "clock/discipline.h"

// Puts the frequency correction frequencyPpm in force (positive: the clock
// runs faster) and starts a slew of slewMs (positive: the clock is ahead and
// held back), which replaces whatever is left of an earlier slew.
//   POSIX: clock_adjtime ADJ_FREQUENCY, then the single-shot slew
//   (ADJ_OFFSET_SINGLESHOT, the kernel's 500 ppm until done); slewRatePpm
//   is not used.
//   Windows: the tick adjustment set to the frequency plus slewRatePpm in
//   the slew's direction; PcClockSlewDone takes the slew off again.
// Returns 0, or the system's error code.
uint32_t AdjustPcClock(double frequencyPpm, double slewMs, double slewRatePpm);

// Ends a slew in progress and leaves frequencyPpm in force: when the slew
// is done (Windows), before a step and at exit (holdover). Returns 0, or the
// system's error code.
uint32_t EndPcClockSlew(double frequencyPpm);

// How the platform slews: SlewAtKernelRate on POSIX, SlewSpread on Windows.
SlewStyle PcClockSlewStyle(void);

#endif
