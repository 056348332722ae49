// Clock discipline: the loop that holds the PC clock to the receiver by
// correcting its frequency and slewing its offset away, instead of stepping
// it. Pure code: samples and the monotonic time go in, a command comes out;
// the platform shell (clock/adjust_*.cpp) carries the command out.
//
// The loop (see docs/accuracy.md, "Clock discipline"):
//   - Samples (PC clock minus receiver time, ms, the number of "Time diff")
//     are averaged into points of about PointSpanSeconds, so the time
//     constant follows the poll interval: one sample a point at a poll a
//     minute, sixteen at a poll a second.
//   - Each point joins a window of at most DisciplinePoints points. A
//     least-squares line through the window gives the offset now and the
//     frequency error; the frequency correction takes the slope away at
//     once and the offset now is slewed. The points are then corrected by
//     the same line, so the next fit sees the clock as it is after the
//     correction (as good time daemons keep their sample history).
//   - A runs test on the residuals drops the older half of the window when
//     the clock's frequency has changed, so the fit follows it quickly.
//   - A sample far from the line (an outlier) is dropped; three in a row
//     agree with each other and mean the clock jumped: the window starts
//     afresh from them, the frequency kept.
//   - A sample at or beyond the step threshold (SynchronizeDiff) asks for a
//     step, as without the loop; the window starts afresh after it.
#ifndef DCFSYNC_CLOCK_DISCIPLINE_H
#define DCFSYNC_CLOCK_DISCIPLINE_H

#include <stddef.h>
#include <stdint.h>

enum {
  DisciplinePoints = 128,        // the window's length in points
  PointSpanSeconds = 16,         // a point covers at least this much
  MinFrequencyPoints = 4,        // points before the slope is trusted
  OutliersForJump = 3,           // dropped samples in a row that mean a jump
  DriftTextSize = 64
};

// Largest frequency correction the loop asks for, ppm (as the Linux kernel).
#define DisciplineMaxPpm 500.0
// The kernel's single-shot slew rate, ppm.
#define KernelSlewPpm 500.0

// How the platform slews an offset:
//   SlewAtKernelRate: a single-shot slew at KernelSlewPpm until done, a new
//   slew replacing what is left of the last (Linux adjtimex, adjtime);
//   SlewSpread: a rate added to the frequency for about half a point's span,
//   at most KernelSlewPpm (the Windows tick adjustment), ended by the shell.
enum SlewStyle { SlewAtKernelRate = 0, SlewSpread = 1 };

struct DisciplinePoint {
  int64_t atMs;     // monotonic ms (mean of its samples)
  double offsetMs;  // PC minus receiver, as after every correction so far
};

// The loop's state; one record, reset by ResetDiscipline.
struct DisciplineState {
  DisciplinePoint points[DisciplinePoints];  // oldest first
  int32_t count;
  // The point being gathered.
  int32_t gathered;
  double gatherOffsetSum;
  double gatherTimeSum;  // ms relative to gatherBaseMs
  int64_t gatherBaseMs;
  // The correction in force and the slew in progress.
  double frequencyPpm;  // frequency correction (positive: the clock made faster)
  double slewMs;        // slew started at slewStartMs (positive: clock held back)
  double slewRatePpm;
  int64_t slewStartMs;
  int32_t slewStyle;    // SlewStyle
  int32_t outliersInRow;
  double residualRmsMs;  // of the last fit; 0 before one
};

// Starts the loop with no points, no slew and the given frequency correction
// (0, or the drift file's; clamped to +-DisciplineMaxPpm).
void ResetDiscipline(DisciplineState* state, double frequencyPpm, SlewStyle style);

enum DisciplineAction {
  DisciplineNothing = 0,  // sample taken into a point, or dropped as an outlier
  DisciplineAdjust = 1,   // put frequencyPpm in force, slew slewMs at slewRatePpm
  DisciplineStep = 2      // set the clock by the sample as without the loop
};

struct DisciplineCommand {
  int32_t action;       // DisciplineAction
  double frequencyPpm;  // Adjust: the frequency correction to put in force
  double slewMs;        // Adjust: the offset to slew away, replacing any slew left
  double slewRatePpm;   // Adjust: the rate of that slew (always positive)
  double offsetMs;      // Adjust: the offset the fit gives for now (for the log)
  int32_t outlier;      // Nothing: 1 when the sample was dropped as an outlier
};

// Takes one sample: offsetMs = PC minus receiver (ms), taken at monotonicMs,
// with pollSeconds between polls (1 for polls without a wait). stepMs is the
// step threshold (SynchronizeDiff): a sample whose size reaches it gives
// DisciplineStep and empties the window (frequency kept, slew dropped).
// Otherwise the sample joins the point being gathered; when the point is
// complete the fit gives DisciplineAdjust, else DisciplineNothing.
DisciplineCommand DisciplineSample(DisciplineState* state, double offsetMs,
                                   int64_t monotonicMs, int32_t pollSeconds, double stepMs);

// Slew still to be done at monotonicMs (ms, the sign of the slew).
double DisciplineSlewLeft(const DisciplineState* state, int64_t monotonicMs);

// For SlewSpread: 1 when the slew started last has run its course by
// monotonicMs, so the shell sets the tick adjustment back to the frequency
// alone, and the state notes no slew in progress. 0 otherwise (also for
// SlewAtKernelRate, which ends by itself).
int DisciplineSlewEnds(DisciplineState* state, int64_t monotonicMs);

// The drift file's text: the frequency correction in ppm, e.g. "+12.345\n".
void FormatDrift(char* text, size_t size, double frequencyPpm);

// Reads a drift file's text: one number (optional sign, digits, optional
// fraction), blanks around it, within +-DisciplineMaxPpm. Returns 1 with
// *frequencyPpm set, or 0 (damaged) leaving it alone.
int ParseDrift(const char* text, double* frequencyPpm);

#endif
