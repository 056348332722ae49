// A simulated PC clock against true time, for the discipline loop's tests
// and bench/discipline: a frequency error that wanders (random walk), the
// platform's response to the loop's commands, samples with the module's
// truncation and jitter, and the figures of a run.
#ifndef DCFSYNC_TESTS_SUPPORT_CLOCKMODEL_H
#define DCFSYNC_TESTS_SUPPORT_CLOCKMODEL_H

#include <stdint.h>

#include "clock/discipline.h"

enum ModelPlatform { ModelLinux = 0, ModelWindows = 1 };

struct ClockModel {
  double trueMs;        // true time since the start (also the monotonic clock)
  double offsetMs;      // PC clock minus true time
  double naturalPpm;    // the clock's own frequency error (positive: fast)
  double correctionPpm; // the frequency correction in force
  double slewLeftMs;    // slew still to come (positive: clock held back)
  double slewRatePpm;
  int32_t platform;     // ModelPlatform
  double walkPpmPerHour;  // random walk of naturalPpm, per square root of an hour
  double jitterMs;        // Gaussian sample jitter (standard deviation)
  uint64_t random;        // generator state
};

// A clock offsetMs off, naturalPpm fast, no correction, seeded.
void StartModel(ClockModel* model, ModelPlatform platform, double offsetMs, double naturalPpm,
                uint64_t seed);

// Lets dtMs of true time pass: the clock runs at naturalPpm + correctionPpm,
// the slew in progress goes on. Windows: a tick adjustment carrying a slew
// lasts until the shell looks next, at the end of a whole second.
void AdvanceModel(ClockModel* model, double dtMs);

// One sample as the program measures it: PC minus receiver with the
// module's hundredths cut (uniform 0..10 ms, corrected by -5 ms) and jitter.
double ModelSample(ClockModel* model);

// Carries out a loop command: Adjust sets the frequency and replaces the
// slew; Step sets the clock by the sample (offset -= sampleMs).
void ApplyCommand(ClockModel* model, const DisciplineCommand* command, double sampleMs);

// The monotonic clock of the loop: true time, whole ms.
int64_t ModelMonotonicMs(const ClockModel* model);

// Uniform in [0, 1) and standard normal, from the model's generator.
double ModelUniform(ClockModel* model);
double ModelNormal(ClockModel* model);

// One run: hours of true time, a poll every pollSeconds, the loop (discipline
// 1, started at startPpm, a drift file's value) or step mode at stepMs; the
// error is measured each second after settleHours. frequencyStep (ppm) is
// added to the clock's own error at half time. The module's time moves by
// moduleShiftMs at shiftHours, for shiftSeconds (0: for good; the reference
// the error is measured against moves with it).
struct ModelRun {
  ModelPlatform platform;
  double naturalPpm, startOffsetMs;
  int32_t pollSeconds;
  int discipline;
  double stepMs, hours, settleHours, frequencyStep, startPpm;
  uint64_t seed;
  double moduleShiftMs, shiftHours, shiftSeconds;
};

// Figures of a run after its settling time.
struct RunFigures {
  double rmsMs;
  double worstMs;
  int32_t steps;            // all steps
  int32_t backwardJumps;    // steps that set the clock back, after the first
  double frequencyLeftPpm;  // naturalPpm + correctionPpm at the end
  double beyondDriftPpm;    // largest |correction| beyond the clock's own |error| after the first hour
};

RunFigures RunModel(const ModelRun& run);

#endif
