// Clock discipline, pure: samples and the monotonic time go in, a command to
// slew, correct the frequency or step comes out. The loop: docs/accuracy.md.
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

#define DisciplineMaxPpm 500.0       // largest frequency correction (as the Linux kernel)
#define MaxFrequencyChangePpm 50.0  // largest change of it in one update
#define KernelSlewPpm 500.0         // the kernel's single-shot slew rate

// SlewAtKernelRate: a single-shot slew at KernelSlewPpm that a new one replaces
// (Linux); SlewSpread: a rate added for half a point's span, ended by the shell.
enum SlewStyle { SlewAtKernelRate = 0, SlewSpread = 1 };

struct DisciplinePoint {
  int64_t atMs;     // monotonic ms (mean of its samples)
  double offsetMs;  // PC minus receiver, as after every correction so far
};

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

// No points, no slew, frequencyPpm (clamped to +-DisciplineMaxPpm) in force.
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

// Takes the sample offsetMs (PC minus receiver) at monotonicMs, polls pollSeconds
// apart; stepMs: SynchronizeDiff. A Step empties the window, the frequency kept.
DisciplineCommand DisciplineSample(DisciplineState* state, double offsetMs,
                                   int64_t monotonicMs, int32_t pollSeconds, double stepMs);

// The slew still to be done at monotonicMs (ms, signed as the slew).
double DisciplineSlewLeft(const DisciplineState* state, int64_t monotonicMs);
// SlewSpread: 1 once the slew has run its course, noting it done (the shell then
// puts the frequency alone in force); else 0.
int DisciplineSlewEnds(DisciplineState* state, int64_t monotonicMs);

// The drift file: the frequency correction in ppm, e.g. "+12.345\n". ParseDrift takes
// one number within +-DisciplineMaxPpm, blanks around it, then a line feed; it returns
// 0 with *frequencyPpm set, or EINVAL (damaged).
void FormatDrift(char* text, size_t size, double frequencyPpm);
int ParseDrift(const char* text, double* frequencyPpm);

#endif
