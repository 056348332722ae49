// The clock discipline loop against the simulated clock: convergence, a
// change of frequency, a restart from the drift file, the module's short
// episodes and lasting jumps, wild points, persisting steps; the drift file's
// text.
#include <errno.h>
#include <gtest/gtest.h>
#include <math.h>

#include <vector>

#include "clock/discipline.h"
#include "support/clockmodel.h"

namespace {

ModelRun Plain(ModelPlatform platform, double ppm, int poll, double hours) {
  return {platform, ppm, 3700.0, poll, 1, 100.0, hours, 1.0, 0.0, 0.0, 7, 0.0, 0.0, 0.0};
}

// Bounds beyond the benchmark's figures: a change must not make the loop
// slow, unstable or easily moved unnoticed.
TEST(Discipline, HoldsTheClockUndisturbedAndDisturbed) {
  struct Case {
    const char* name;
    ModelRun run;
    double rms, worst;
  } cases[] = {
      {"linux +50 ppm, a poll a minute", Plain(ModelLinux, 50.0, 60, 12.0), 1.0, 3.0},
      {"linux -30 ppm, a poll a second", Plain(ModelLinux, -30.0, 1, 12.0), 0.5, 2.0},
      {"linux +200 ppm, a poll a minute", Plain(ModelLinux, 200.0, 60, 12.0), 1.0, 3.0},
      {"windows +200 ppm, a poll a second", Plain(ModelWindows, 200.0, 1, 12.0), 0.5, 2.0},
      {"windows +50 ppm, a poll a minute", Plain(ModelWindows, 50.0, 60, 12.0), 1.0, 3.0},
      {"frequency +20 ppm at half time", Plain(ModelLinux, 50.0, 60, 12.0), 2.0, 15.0},
      {"restart from the drift file", Plain(ModelLinux, 50.0, 60, 12.0), 1.0, 3.0},
      {"module +50 ms for 10 s, a poll a second", Plain(ModelLinux, 200.0, 1, 3.0), 1.0, 5.0},
      {"module -50 ms for 10 s, a poll a minute", Plain(ModelLinux, 200.0, 60, 3.0), 1.0, 5.0},
      {"module +80 ms for 50 s, a poll a second", Plain(ModelWindows, 50.0, 1, 3.0), 1.0, 5.0},
      {"module +60 ms for good, a poll a second", Plain(ModelLinux, 200.0, 1, 3.0), 1.0, 5.0},
      {"module -60 ms for good, a poll a minute", Plain(ModelWindows, -30.0, 60, 3.0), 1.5, 5.0},
  };
  cases[5].run.frequencyStep = 20.0;
  cases[6].run.startPpm = -50.0;
  const double shifts[][2] = {{50, 10}, {-50, 10}, {80, 50}, {60, 0}, {-60, 0}};
  for (int i = 0; i < 5; ++i) {
    ModelRun& r = cases[7 + i].run;
    r.moduleShiftMs = shifts[i][0];
    r.shiftSeconds = shifts[i][1];
    r.shiftHours = 2.0;
    // A lasting jump is measured against the module's new time from 5 minutes on.
    if (r.shiftSeconds == 0.0) r.settleHours = 2.0 + 5.0 / 60.0;
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunFigures f = RunModel(c.run);
    EXPECT_EQ(f.steps, 1);  // the first synchronisation only
    EXPECT_EQ(f.backwardJumps, 0);
    EXPECT_LT(f.rmsMs, c.rms);
    EXPECT_LT(f.worstMs, c.worst);
    EXPECT_LT(fabs(f.frequencyLeftPpm), 1.5);
    // Never more correction than the clock's own error explains.
    EXPECT_LT(f.beyondDriftPpm, 3.0);
  }
}

// Started from the drift file, the clock is tuned from the first minute;
// without it the loop fits no frequency for the first minutes.
TEST(Discipline, DriftFileStartIsTunedAtOnce) {
  for (int tuned = 0; tuned < 2; ++tuned) {
    ModelRun r = Plain(ModelLinux, 50.0, 60, 0.05);
    r.startOffsetMs = r.settleHours = 0.0;
    r.startPpm = tuned ? -50.0 : 0.0;
    RunFigures f = RunModel(r);
    EXPECT_EQ(f.steps, 0);
    EXPECT_GT(fabs(f.frequencyLeftPpm), tuned ? 0.0 : 45.0);
    EXPECT_LT(fabs(f.frequencyLeftPpm), tuned ? 0.5 : 55.0);
  }
}

// Drives the loop by hand, a poll a minute, on a clock that is right: the
// samples given, one a minute.
struct Driver {
  DisciplineState state;
  int64_t now = 0;
  DisciplineCommand Feed(double offset) {
    now += 60000;
    return DisciplineSample(&state, offset, now, 60, 100.0);
  }
};

TEST(Discipline, OnlyWhatPersistsMovesTheClock) {
  // Each script: the samples after a start at 12 ppm (or after 20 quiet
  // points), and the action each one must give (N nothing, O dropped
  // outlier, A adjust, S step).
  const struct {
    const char* name;
    int settled;
    std::vector<double> samples;
    const char* actions;
    double lastSlew;  // of the last Adjust
  } cases[] = {
      {"first point waits for a second", 0, {3, 2, 1}, "NAA", 1.5},
      {"a wild first point is dropped", 0, {60, 0, 1, 2}, "NNAA", 1.0},
      {"a wild second point is dropped", 0, {0, 60, 1, 2}, "NNNA", 1.5},
      {"a first synchronisation steps at once", 0, {300, 1, 2}, "SNA", 1.5},
      {"a single wild point is dropped", 1, {60, 1}, "OA", 1.0},
      {"two wild points are dropped", 1, {60, 60, 1}, "OOA", 1.0},
      {"outliers that disagree are no jump", 1, {60, -60, 60, -60, 1}, "OOOOA", 1.0},
      {"a lasting jump is slewed", 1, {60, 60, 60}, "OOA", 60.0},
      {"a lasting jump beyond the step steps", 1, {300, 300, 300}, "OOS", 0.0},
      {"a single step-sized sample is dropped", 1, {-500, 0}, "OA", 0.0},
      {"not a number", 1, {NAN, 0}, "OA", 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Driver d;
    ResetDiscipline(&d.state, 12.0, SlewAtKernelRate);
    if (c.settled) {
      for (int i = 0; i < 20; ++i) d.Feed((i % 2) ? 2.0 : -2.0);
      EXPECT_NEAR(d.state.frequencyPpm, 12.0, 0.5);
    }
    double frequency = d.state.frequencyPpm, slew = 0.0;
    for (size_t i = 0; i < c.samples.size(); ++i) {
      DisciplineCommand command = d.Feed(c.samples[i]);
      char action = "NAS"[command.action];
      if (command.action == DisciplineNothing && command.outlier) action = 'O';
      EXPECT_EQ(action, c.actions[i]) << "sample " << i;
      if (command.action == DisciplineAdjust) slew = command.slewMs;
      // No update moves the frequency far: the slope of a few points is not trusted.
      EXPECT_NEAR(command.frequencyPpm, frequency, 1.0) << "sample " << i;
    }
    EXPECT_NEAR(slew, c.lastSlew, 2.0);
  }
}

TEST(Discipline, OneUpdateChangesTheFrequencyByAtMostTheCap) {
  // A clock 200 ppm fast, polled each minute: 12 ms more each minute.
  // Never beyond the clock's error, never more than the cap at once.
  Driver d;
  ResetDiscipline(&d.state, 0.0, SlewAtKernelRate);
  double offset = 0.0, last = 0.0;
  for (int i = 0; i < 80; ++i) {
    // The module's hundredths: the sample cut by up to 10 ms, less 5.
    DisciplineCommand c = d.Feed(offset + (double)((i * 37) % 100) / 10.0 - 5.0);
    EXPECT_LE(fabs(c.frequencyPpm - last), MaxFrequencyChangePpm + 1e-9) << i;
    EXPECT_GE(c.frequencyPpm, -210.0) << i;  // beyond the error by the fit's uncertainty at most
    last = c.frequencyPpm;
    if (c.action == DisciplineAdjust) offset -= c.slewMs;
    offset += (200.0 + c.frequencyPpm) * 0.06;
  }
  EXPECT_NEAR(last, -200.0, 2.0);
}

TEST(Discipline, SlewBookkeeping) {
  DisciplineState state;
  ResetDiscipline(&state, 0.0, SlewAtKernelRate);
  EXPECT_EQ(DisciplineSample(&state, 10.0, 1000, 60, 100.0).action, DisciplineNothing);
  DisciplineCommand c = DisciplineSample(&state, 10.0, 61000, 60, 100.0);
  EXPECT_EQ(c.slewMs, 10.0);
  // 500 ppm: 10 ms take 20 s; the kernel ends it by itself.
  EXPECT_NEAR(DisciplineSlewLeft(&state, 71000), 5.0, 1e-9);
  EXPECT_EQ(DisciplineSlewLeft(&state, 81000), 0.0);
  EXPECT_EQ(DisciplineSlewEnds(&state, 90000), 0);

  // Spread over half a minute's point; the shell ends it when it is done.
  ResetDiscipline(&state, 0.0, SlewSpread);
  DisciplineSample(&state, -3.0, 1000, 60, 100.0);
  c = DisciplineSample(&state, -3.0, 61000, 60, 100.0);
  EXPECT_EQ(c.slewMs, -3.0);
  EXPECT_NEAR(c.slewRatePpm, 100.0, 1e-9);
  EXPECT_EQ(DisciplineSlewEnds(&state, 90000), 0);
  EXPECT_EQ(DisciplineSlewEnds(&state, 91000), 1);
  EXPECT_EQ(DisciplineSlewEnds(&state, 92000), 0);
}

TEST(Discipline, DriftText) {
  char text[DriftTextSize];
  FormatDrift(text, sizeof text, -12.3456);
  EXPECT_STREQ(text, "-12.346\n");
  double ppm = 99.0;
  EXPECT_EQ(ParseDrift(text, &ppm), 0);
  EXPECT_DOUBLE_EQ(ppm, -12.346);
  const struct {
    const char* text;
    int ok;
    double ppm;
  } cases[] = {
      {"+0.000\n", 1, 0.0}, {" 500 \r\n", 1, 500.0}, {"-500.0\n", 1, -500.0}, {"7.\n", 1, 7.0},
      {"-500.0", 0, 0}, {"+1", 0, 0}, {"", 0, 0}, {"\n", 0, 0}, {"500.5\n", 0, 0},
      {"12,5\n", 0, 0}, {"1e3\n", 0, 0}, {"nan\n", 0, 0}, {"+\n", 0, 0}, {"12\n13\n", 0, 0},
      {"0x10\n", 0, 0}, {"1.2.3\n", 0, 0},
  };
  for (const auto& c : cases) {
    ppm = 99.0;
    EXPECT_EQ(ParseDrift(c.text, &ppm), c.ok ? 0 : EINVAL) << c.text;
    EXPECT_DOUBLE_EQ(ppm, c.ok ? c.ppm : 99.0) << c.text;
  }
}

}  // namespace
