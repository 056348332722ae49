// Clock discipline: the loop. See discipline.h and docs/accuracy.md.
#include "clock/discipline.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

// A sample this far (ms) plus four times the fit's residual RMS from the
// line is an outlier.
static const double OutlierFloorMs = 20.0;

// A last run of residuals this long (by chance once in 2^11 points) means
// the newest points no longer fit the line.
enum { TrailingRunPoints = 12 };

static double Clamp(double value, double limit) {
  if (value > limit) return limit;
  if (value < -limit) return -limit;
  return value;
}

void ResetDiscipline(DisciplineState* state, double frequencyPpm, SlewStyle style) {
  memset(state, 0, sizeof *state);
  state->frequencyPpm = Clamp(frequencyPpm, DisciplineMaxPpm);
  state->slewStyle = style;
  state->slewRatePpm = KernelSlewPpm;
}

double DisciplineSlewLeft(const DisciplineState* state, int64_t monotonicMs) {
  if (state->slewMs == 0.0) return 0.0;
  double elapsed = (double)(monotonicMs - state->slewStartMs);
  if (elapsed < 0.0) elapsed = 0.0;
  double done = elapsed * state->slewRatePpm * 1e-6;
  double size = fabs(state->slewMs);
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
  state->count = 0;
  state->gathered = 0;
  state->gatherOffsetSum = 0.0;
  state->gatherTimeSum = 0.0;
  state->outliersInRow = 0;
  state->residualRmsMs = 0.0;
}

// Least-squares line through the points, x in seconds from nowMs: offset
// *a at now, slope *b in ms/s. With fewer than MinFrequencyPoints points,
// or all at one instant, the slope is 0 and *a the newest point's offset.
static void FitLine(const DisciplineState* state, int64_t nowMs, double* a, double* b) {
  int n = state->count;
  *a = state->points[n - 1].offsetMs;
  *b = 0.0;
  if (n < MinFrequencyPoints) return;
  double meanX = 0.0, meanY = 0.0;
  for (int i = 0; i < n; ++i) {
    meanX += (double)(state->points[i].atMs - nowMs) / 1000.0;
    meanY += state->points[i].offsetMs;
  }
  meanX /= n;
  meanY /= n;
  double sxx = 0.0, sxy = 0.0;
  for (int i = 0; i < n; ++i) {
    double dx = (double)(state->points[i].atMs - nowMs) / 1000.0 - meanX;
    sxx += dx * dx;
    sxy += dx * (state->points[i].offsetMs - meanY);
  }
  if (sxx <= 0.0) {
    *a = meanY;
    return;
  }
  *b = sxy / sxx;
  *a = meanY - *b * meanX;
}

// Number of runs of equal sign in the residuals from the line (a, b), and
// the length of the last run in *lastRun.
static int CountRuns(const DisciplineState* state, int64_t nowMs, double a, double b,
                     int* lastRun) {
  int runs = 0;
  int lastSign = 0;
  *lastRun = 0;
  for (int i = 0; i < state->count; ++i) {
    double x = (double)(state->points[i].atMs - nowMs) / 1000.0;
    double r = state->points[i].offsetMs - (a + b * x);
    int sign = r >= 0.0 ? 1 : -1;
    if (sign != lastSign) {
      ++runs;
      *lastRun = 0;
    }
    ++*lastRun;
    lastSign = sign;
  }
  return runs;
}

// 1 when the residuals have clearly fewer runs than noise gives: the line
// no longer fits the whole window (the clock's frequency changed).
static int TooFewRuns(int runs, int n) {
  if (n < 2 * MinFrequencyPoints) return 0;
  double expected = n / 2.0 + 1.0;
  double spread = sqrt((n - 1) / 4.0);
  return runs < expected - 3.5 * spread;
}

// Keeps the newest keep points.
static void KeepNewest(DisciplineState* state, int keep) {
  if (keep >= state->count) return;
  memmove(state->points, state->points + (state->count - keep), keep * sizeof state->points[0]);
  state->count = keep;
}

static double ResidualRms(const DisciplineState* state) {
  if (state->count < MinFrequencyPoints) return 0.0;
  double sum = 0.0;
  for (int i = 0; i < state->count; ++i) sum += state->points[i].offsetMs * state->points[i].offsetMs;
  return sqrt(sum / state->count);
}

// Closes the gathered point, fits the window and turns the fit into the
// command; the points are corrected by the fitted line.
static DisciplineCommand CompletePoint(DisciplineState* state, int64_t nowMs, int32_t pointSeconds) {
  DisciplinePoint point;
  point.atMs = state->gatherBaseMs + (int64_t)llround(state->gatherTimeSum / state->gathered);
  point.offsetMs = state->gatherOffsetSum / state->gathered;
  state->gathered = 0;
  state->gatherOffsetSum = 0.0;
  state->gatherTimeSum = 0.0;
  if (state->count == DisciplinePoints) KeepNewest(state, DisciplinePoints / 2);
  state->points[state->count++] = point;

  double a = 0.0, b = 0.0;
  FitLine(state, nowMs, &a, &b);
  for (;;) {
    int lastRun = 0;
    int runs = CountRuns(state, nowMs, a, b, &lastRun);
    if (TooFewRuns(runs, state->count)) {
      KeepNewest(state, state->count / 2);
    } else if (lastRun >= TrailingRunPoints && state->count > 2 * TrailingRunPoints) {
      // The newest points all on one side: the frequency changed lately.
      KeepNewest(state, 2 * TrailingRunPoints);
    } else {
      break;
    }
    FitLine(state, nowMs, &a, &b);
  }

  double before = state->frequencyPpm;
  state->frequencyPpm = Clamp(before - b * 1000.0, DisciplineMaxPpm);
  double appliedSlope = (before - state->frequencyPpm) / 1000.0;  // ms/s taken away
  for (int i = 0; i < state->count; ++i) {
    double x = (double)(state->points[i].atMs - nowMs) / 1000.0;
    state->points[i].offsetMs -= a + appliedSlope * x;
  }
  state->residualRmsMs = ResidualRms(state);

  double slew = a + DisciplineSlewLeft(state, nowMs);
  double rate = KernelSlewPpm;
  if (state->slewStyle == SlewSpread && slew != 0.0) {
    // Over half the point's span: done well before the next command.
    rate = fabs(slew) * 1000.0 / (pointSeconds / 2.0);
    if (rate > KernelSlewPpm) rate = KernelSlewPpm;
  }
  state->slewMs = slew;
  state->slewRatePpm = rate;
  state->slewStartMs = nowMs;

  DisciplineCommand command;
  memset(&command, 0, sizeof command);
  command.action = DisciplineAdjust;
  command.frequencyPpm = state->frequencyPpm;
  command.slewMs = slew;
  command.slewRatePpm = rate;
  command.offsetMs = a;
  return command;
}

DisciplineCommand DisciplineSample(DisciplineState* state, double offsetMs, int64_t monotonicMs,
                                   int32_t pollSeconds, double stepMs) {
  DisciplineCommand command;
  memset(&command, 0, sizeof command);
  command.frequencyPpm = state->frequencyPpm;
  if (!(fabs(offsetMs) < stepMs)) {
    ForgetPoints(state);
    state->slewMs = 0.0;
    command.action = DisciplineStep;
    return command;
  }

  // As if the slew in progress were done already: it is counted in the
  // command that started it.
  double sample = offsetMs - DisciplineSlewLeft(state, monotonicMs);
  if (state->count >= MinFrequencyPoints &&
      fabs(sample) > OutlierFloorMs + 4.0 * state->residualRmsMs) {
    if (++state->outliersInRow < OutliersForJump) {
      command.outlier = 1;
      return command;
    }
    // The clock jumped (or the reception moved): start afresh from here.
    ForgetPoints(state);
  } else {
    state->outliersInRow = 0;
  }

  if (pollSeconds < 1) pollSeconds = 1;
  int32_t perPoint = PointSpanSeconds / pollSeconds;
  if (perPoint < 1) perPoint = 1;
  if (state->gathered == 0) state->gatherBaseMs = monotonicMs;
  state->gatherOffsetSum += sample;
  state->gatherTimeSum += (double)(monotonicMs - state->gatherBaseMs);
  ++state->gathered;
  if (state->gathered < perPoint) return command;
  return CompletePoint(state, monotonicMs, perPoint * pollSeconds);
}

void FormatDrift(char* text, size_t size, double frequencyPpm) {
  snprintf(text, size, "%+.3f\n", Clamp(frequencyPpm, DisciplineMaxPpm));
}

int ParseDrift(const char* text, double* frequencyPpm) {
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  int negative = 0;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  double value = 0.0;
  int digits = 0;
  while (*p >= '0' && *p <= '9' && digits < 12) {
    value = value * 10.0 + (*p++ - '0');
    ++digits;
  }
  if (*p == '.') {
    ++p;
    double scale = 0.1;
    while (*p >= '0' && *p <= '9' && digits < 24) {
      value += (*p++ - '0') * scale;
      scale /= 10.0;
      ++digits;
    }
  }
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
  if (digits == 0 || *p != '\0' || value > DisciplineMaxPpm) return 0;
  *frequencyPpm = negative ? -value : value;
  return 1;
}
