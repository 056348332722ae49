// Clock discipline: holds the PC clock to the receiver by correcting its
// frequency and slewing its offset away instead of stepping it. Pure: samples
// and the monotonic time go in, a command comes out (docs/accuracy.md).
//   - Samples (PC minus receiver, ms) are averaged into points of at least
//     PointSpanSeconds; a window of at most DisciplinePoints points is fitted
//     with a least-squares line: its offset now is slewed away, its slope
//     corrects the frequency once the fit can tell it from the module's 10 ms
//     resolution (only the part beyond one standard error, at most
//     MaxFrequencyChangePpm an update); the points are then corrected by what
//     was put in force. A runs test on the residuals shortens the window when
//     the clock's frequency has changed.
//   - After a (re)start the first slew waits until two points agree.
//   - A sample far from the line (a threshold that no residual raises beyond
//     25 ms) is dropped; only when such samples agree with each other for at
//     least OutliersForJump polls and JumpSeconds is it a jump: the window
//     starts afresh from them (slewed), or the clock is stepped when they
//     reach the step threshold. Only the first synchronisation steps at once.
#ifndef DCFSYNC_CLOCK_DISCIPLINE_H
#define DCFSYNC_CLOCK_DISCIPLINE_H

#include <stddef.h>
#include <stdint.h>

enum {
  DisciplinePoints = 128,  // the window's length in points
  PointSpanSeconds = 16,   // a point covers at least this much
  MinFrequencyPoints = 4,  // points before a slope is fitted at all
  OutliersForJump = 3,     // agreeing outliers, and
  JumpSeconds = 60,        // their span, that make a jump
  DriftTextSize = 64
};

// Largest frequency correction, ppm (as the Linux kernel), and the largest
// change of it one update makes.
#define DisciplineMaxPpm 500.0
#define MaxFrequencyChangePpm 50.0
// The kernel's single-shot slew rate, ppm.
#define KernelSlewPpm 500.0

// How the platform slews: SlewAtKernelRate, a single-shot slew at
// KernelSlewPpm that a new one replaces (Linux); SlewSpread, a rate added to
// the frequency for half a point's span (Windows), ended by the shell.
enum SlewStyle { SlewAtKernelRate = 0, SlewSpread = 1 };

struct DisciplinePoint {
  int64_t atMs;     // monotonic ms (mean of its samples)
  double offsetMs;  // PC minus receiver, as after every correction so far
};

// The loop's state; one record, reset by ResetDiscipline.
struct DisciplineState {
  DisciplinePoint points[DisciplinePoints];  // oldest first
  int32_t count;
  int32_t gathered;  // the point being gathered
  double gatherOffsetSum, gatherTimeSum;  // time relative to gatherBaseMs
  int64_t gatherBaseMs;
  double frequencyPpm;  // correction in force (positive: the clock made faster)
  double slewMs;        // slew started at slewStartMs (positive: clock held back)
  double slewRatePpm;
  int64_t slewStartMs;
  int32_t slewStyle;    // SlewStyle
  int32_t synced;       // stepped or adjusted once: later steps must persist
  int32_t confirmed;    // the window's first point agreed with a second
  int32_t runCount;     // the outliers in a row that agree
  double runSum;
  int64_t runFirstMs;
  double residualRmsMs;  // of the last fit; 0 before one
};

// Starts the loop with no points, no slew and the given frequency correction
// (the drift file's, clamped to +-DisciplineMaxPpm).
void ResetDiscipline(DisciplineState* state, double frequencyPpm, SlewStyle style);

enum DisciplineAction {
  DisciplineNothing = 0,  // sample taken, or dropped (outlier)
  DisciplineAdjust = 1,   // put frequencyPpm in force, slew slewMs at slewRatePpm
  DisciplineStep = 2      // set the clock by the sample as without the loop
};

struct DisciplineCommand {
  int32_t action;       // DisciplineAction
  double frequencyPpm;  // the frequency correction to keep in force
  double slewMs;        // Adjust: the offset to slew away, replacing any slew left
  double slewRatePpm;   // Adjust: its rate (positive)
  double offsetMs;      // Adjust: the offset the fit gives for now (for the log)
  int32_t outlier;      // Nothing: 1 when the sample was dropped
};

// Takes one sample: offsetMs = PC minus receiver, at monotonicMs, polls
// pollSeconds apart (1 without a wait); stepMs is the step threshold
// (SynchronizeDiff). A Step empties the window and drops the slew, the
// frequency kept.
DisciplineCommand DisciplineSample(DisciplineState* state, double offsetMs,
                                   int64_t monotonicMs, int32_t pollSeconds, double stepMs);

// Slew still to be done at monotonicMs (ms, the sign of the slew).
double DisciplineSlewLeft(const DisciplineState* state, int64_t monotonicMs);

// SlewSpread: 1 once the last slew has run its course (the shell then puts
// the frequency alone in force), noting it done; else 0.
int DisciplineSlewEnds(DisciplineState* state, int64_t monotonicMs);

// The drift file's text: the frequency correction in ppm, e.g. "+12.345\n".
void FormatDrift(char* text, size_t size, double frequencyPpm);

// Reads a drift file's text: one number (optional sign, digits, optional
// fraction) within +-DisciplineMaxPpm, blanks around it, ending in a line
// feed. Returns 0 with *frequencyPpm set, or EINVAL (damaged) leaving it.
int ParseDrift(const char* text, double* frequencyPpm);

#endif
