// Clock discipline: the loop (docs/accuracy.md).
#include "clock/discipline.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

static const double OutlierFloorMs = 15.0;  // outlier threshold: this plus 4 x residual RMS,
static const double OutlierCapMs = 25.0;    // at most this
static const double UnknownPpm = 250.0;     // frequency error allowed for before a slope
static const double ResolutionMs = 10.0;    // the module's hundredths
enum { TrailingRunPoints = 16 };  // a last run of residuals this long: the line no longer fits

static double Clamp(double value, double limit) { return fmax(-limit, fmin(limit, value)); }

void ResetDiscipline(DisciplineState* state, double frequencyPpm, SlewStyle style) {
  memset(state, 0, sizeof *state);
  state->frequencyPpm = Clamp(frequencyPpm, DisciplineMaxPpm);
  state->slewStyle = style;
  state->slewRatePpm = KernelSlewPpm;
}

double DisciplineSlewLeft(const DisciplineState* state, int64_t monotonicMs) {
  double size = fabs(state->slewMs);
  double done = fmax(0.0, (double)(monotonicMs - state->slewStartMs)) * state->slewRatePpm * 1e-6;
  if (done >= size) return 0.0;
  return state->slewMs > 0.0 ? size - done : done - size;
}

int DisciplineSlewEnds(DisciplineState* state, int64_t monotonicMs) {
  if (state->slewStyle != SlewSpread || state->slewMs == 0.0) return 0;
  if (DisciplineSlewLeft(state, monotonicMs) != 0.0) return 0;
  state->slewMs = 0.0;
  return 1;
}

static void ForgetPoints(DisciplineState* state) {
  state->count = state->gathered = state->confirmed = state->runCount = 0;
  state->gatherOffsetSum = state->gatherTimeSum = state->residualRmsMs = 0.0;
}

static void KeepNewest(DisciplineState* state, int keep) {
  if (keep >= state->count) return;
  memmove(state->points, state->points + (state->count - keep), keep * sizeof state->points[0]);
  state->count = keep;
}

static double Seconds(int64_t atMs, int64_t nowMs) { return (double)(atMs - nowMs) / 1000.0; }

// The least-squares line through the points, x in seconds from nowMs: *a the offset now,
// *b the slope (ms/s), *sxx the spread of x; below MinFrequencyPoints *b is 0, *a the mean.
static void FitLine(const DisciplineState* state, int64_t nowMs, double* a, double* b,
                    double* sxx) {
  int n = state->count;
  double meanX = 0.0, meanY = 0.0, sxy = 0.0;
  for (int i = 0; i < n; ++i) {
    meanX += Seconds(state->points[i].atMs, nowMs) / n;
    meanY += state->points[i].offsetMs / n;
  }
  *a = meanY;
  *b = *sxx = 0.0;
  if (n < MinFrequencyPoints) return;
  for (int i = 0; i < n; ++i) {
    double dx = Seconds(state->points[i].atMs, nowMs) - meanX;
    *sxx += dx * dx;
    sxy += dx * (state->points[i].offsetMs - meanY);
  }
  if (*sxx > 0.0) *b = sxy / *sxx;
  *a = meanY - *b * meanX;
}

// The residuals' RMS from the line (a, b), their runs of equal sign, the last run's length.
static double Residuals(const DisciplineState* state, int64_t nowMs, double a, double b,
                        int* runs, int* lastRun) {
  double sum = 0.0;
  int lastSign = 0;
  *runs = *lastRun = 0;
  for (int i = 0; i < state->count; ++i) {
    double r = state->points[i].offsetMs - (a + b * Seconds(state->points[i].atMs, nowMs));
    int sign = r >= 0.0 ? 1 : -1;
    if (sign != lastSign) ++*runs, *lastRun = 0;
    ++*lastRun;
    lastSign = sign;
    sum += r * r;
  }
  return state->count > 0 ? sqrt(sum / state->count) : 0.0;
}

// The points to keep when the frequency changed (the residuals end in a long run, or have
// clearly fewer runs than noise gives: 3.5 sigma), else 0.
static int KeepAfterFit(int runs, int lastRun, int n) {
  if (lastRun >= TrailingRunPoints && n > 2 * TrailingRunPoints) return 2 * TrailingRunPoints;
  if (n >= 2 * MinFrequencyPoints && runs < n / 2.0 + 1.0 - 3.5 * sqrt((n - 1) / 4.0)) return n / 2;
  return 0;
}

// How far a sample at nowMs may lie from the line's prediction.
static double Tolerance(const DisciplineState* state, int64_t nowMs) {
  double t = fmin(OutlierFloorMs + 4.0 * state->residualRmsMs, OutlierCapMs);
  if (state->count >= MinFrequencyPoints || state->count == 0) return t;
  return t + UnknownPpm * 1e-6 * (double)(nowMs - state->points[state->count - 1].atMs);
}

// Closes the gathered point, fits the window and turns the fit into a command.
static DisciplineCommand CompletePoint(DisciplineState* state, DisciplineCommand command,
                                       int64_t nowMs, int32_t pointSeconds) {
  DisciplinePoint point = {state->gatherBaseMs + (int64_t)llround(state->gatherTimeSum / state->gathered),
                           state->gatherOffsetSum / state->gathered};
  double pointSigma = ResolutionMs / sqrt(12.0 * state->gathered);
  state->gathered = 0;
  state->gatherOffsetSum = state->gatherTimeSum = 0.0;
  if (state->count == DisciplinePoints) KeepNewest(state, DisciplinePoints - 1);
  state->points[state->count++] = point;
  if (!state->confirmed && state->count < 2) return command;  // one point alone moves nothing
  state->confirmed = 1;
  double a, b, sxx;
  int runs, lastRun;
  for (;;) {
    FitLine(state, nowMs, &a, &b, &sxx);
    state->residualRmsMs = Residuals(state, nowMs, a, b, &runs, &lastRun);
    int keep = KeepAfterFit(runs, lastRun, state->count);
    if (keep == 0) break;
    KeepNewest(state, keep);
  }
  // The slope's part beyond one standard error is put in force, at most MaxFrequencyChangePpm.
  double before = state->frequencyPpm;
  if (sxx > 0.0) {
    int n = state->count;
    double sigma = fmax(state->residualRmsMs * sqrt(n / fmax(1.0, n - 2.0)), pointSigma);
    double change = fmin(fmax(fabs(b) * 1000.0 - 1000.0 * sigma / sqrt(sxx), 0.0), MaxFrequencyChangePpm);
    state->frequencyPpm = Clamp(before - copysign(change, b), DisciplineMaxPpm);
  }
  double applied = (before - state->frequencyPpm) / 1000.0;  // ms/s taken away
  for (int i = 0; i < state->count; ++i) {
    state->points[i].offsetMs -= a + applied * Seconds(state->points[i].atMs, nowMs);
  }
  double slew = a + DisciplineSlewLeft(state, nowMs);
  double rate = KernelSlewPpm;
  // Spread: over half the point's span, done well before the next command.
  if (state->slewStyle == SlewSpread && slew != 0.0) {
    rate = fmin(fabs(slew) * 1000.0 / (pointSeconds / 2.0), KernelSlewPpm);
  }
  state->slewMs = slew;
  state->slewRatePpm = rate;
  state->slewStartMs = nowMs;
  state->synced = 1;
  return DisciplineCommand{DisciplineAdjust, state->frequencyPpm, slew, rate, a, 0};
}

static DisciplineCommand Step(DisciplineState* state) {
  ForgetPoints(state);
  state->slewMs = 0.0;
  state->synced = 1;
  return DisciplineCommand{DisciplineStep, state->frequencyPpm, 0.0, 0.0, 0.0, 0};
}

DisciplineCommand DisciplineSample(DisciplineState* state, double offsetMs, int64_t monotonicMs,
                                   int32_t pollSeconds, double stepMs) {
  DisciplineCommand command = {DisciplineNothing, state->frequencyPpm, 0.0, 0.0, 0.0, 1};
  if (!isfinite(offsetMs)) return command;
  int beyondStep = !(fabs(offsetMs) < stepMs);
  if (beyondStep && !state->synced) return Step(state);
  // As if the slew in progress were done: it is part of the command that started it.
  double sample = offsetMs - DisciplineSlewLeft(state, monotonicMs);
  double a = 0.0, b, sxx;
  FitLine(state, monotonicMs, &a, &b, &sxx);
  int far = state->count > 0 && fabs(sample - a) > Tolerance(state, monotonicMs);
  if (far && !state->confirmed && !beyondStep) {
    ForgetPoints(state);  // the lone point disagrees: it goes, the sample starts afresh
  } else if (far || beyondStep) {
    if (state->runCount > 0 && fabs(sample - state->runSum / state->runCount) > OutlierFloorMs) {
      state->runCount = 0;  // the outliers disagree: a new run
    }
    if (state->runCount++ == 0) state->runSum = 0.0, state->runFirstMs = monotonicMs;
    state->runSum += sample;
    if (state->runCount < OutliersForJump || monotonicMs - state->runFirstMs < JumpSeconds * 1000) {
      return command;
    }
    // The jump persisted: a step, or the window moved by it and the run its newest point.
    double jump = state->runSum / state->runCount;
    if (!(fabs(jump) < stepMs)) return Step(state);
    for (int i = 0; i < state->count; ++i) state->points[i].offsetMs += jump - a;
    state->runCount = 0;
    state->confirmed = 1;
    state->gatherBaseMs = monotonicMs;
    state->gatherTimeSum = 0.0;
    state->gatherOffsetSum = jump;
    state->gathered = 1;
    command.outlier = 0;
    return CompletePoint(state, command, monotonicMs, PointSpanSeconds);
  }
  state->runCount = 0;
  command.outlier = 0;
  int32_t perPoint = PointSpanSeconds / (pollSeconds < 1 ? 1 : pollSeconds);
  if (perPoint < 1) perPoint = 1;
  if (state->gathered == 0) state->gatherBaseMs = monotonicMs;
  state->gatherOffsetSum += sample;
  state->gatherTimeSum += (double)(monotonicMs - state->gatherBaseMs);
  if (++state->gathered < perPoint) return command;
  return CompletePoint(state, command, monotonicMs, perPoint * (pollSeconds < 1 ? 1 : pollSeconds));
}

void FormatDrift(char* text, size_t size, double frequencyPpm) {
  snprintf(text, size, "%+.3f\n", Clamp(frequencyPpm, DisciplineMaxPpm));
}

int ParseDrift(const char* text, double* frequencyPpm) {
  const char* p = text + strspn(text, " \t");
  int negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  double value = 0.0, scale = 1.0;
  int digits = 0, fraction = 0;
  for (; ((*p >= '0' && *p <= '9') || (*p == '.' && !fraction)) && digits < 24; ++p) {
    if (*p == '.') {
      fraction = 1;
    } else if (fraction) {
      value += (*p - '0') * (scale /= 10.0), ++digits;
    } else {
      value = value * 10.0 + (*p - '0'), ++digits;
    }
  }
  p += strspn(p, " \t\r");
  if (digits == 0 || strcmp(p, "\n") != 0 || value > DisciplineMaxPpm) return EINVAL;
  *frequencyPpm = negative ? -value : value;
  return 0;
}
