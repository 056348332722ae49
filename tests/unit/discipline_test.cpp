// The clock discipline loop against the simulated clock: convergence, a
// change of frequency, outliers, a restart from the drift file, a jump that
// forces a step; and the drift file's text.
#include <gtest/gtest.h>
#include <math.h>

#include "clock/discipline.h"
#include "support/clockmodel.h"

namespace {

struct Case {
  const char* name;
  ModelPlatform platform;
  double ppm;
  int poll;
  double frequencyStep;
  double startPpm;
};

// Bounds well beyond the benchmark's figures: the model is exact, but a
// change must not turn the loop into a slow or unstable one unnoticed.
TEST(Discipline, ConvergesAndHoldsWithoutSteps) {
  const Case cases[] = {
      {"linux +50 ppm, a poll a minute", ModelLinux, 50.0, 60, 0.0, 0.0},
      {"linux -30 ppm, a poll a second", ModelLinux, -30.0, 1, 0.0, 0.0},
      {"windows +50 ppm, a poll a minute", ModelWindows, 50.0, 60, 0.0, 0.0},
      {"windows -30 ppm, a poll a second", ModelWindows, -30.0, 1, 0.0, 0.0},
      {"frequency +20 ppm at half time", ModelLinux, 50.0, 60, 20.0, 0.0},
      {"restart from the drift file", ModelLinux, 50.0, 60, 0.0, -50.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunFigures f = RunModel(c.platform, c.ppm, 3700.0, c.poll, 1, 100.0, 12.0, 1.0,
                            c.frequencyStep, c.startPpm, 7);
    EXPECT_EQ(f.steps, 1);  // the first synchronisation only
    EXPECT_EQ(f.backwardJumps, 0);
    EXPECT_LT(f.rmsMs, 2.0);
    EXPECT_LT(f.worstMs, c.frequencyStep != 0.0 ? 15.0 : 6.0);
    EXPECT_LT(fabs(f.frequencyLeftPpm), 1.5);
  }
}

// Started from the drift file, the clock is tuned from the first minute;
// without it the loop has no frequency before MinFrequencyPoints points.
TEST(Discipline, DriftFileStartIsTunedAtOnce) {
  for (int tuned = 0; tuned < 2; ++tuned) {
    RunFigures f = RunModel(ModelLinux, 50.0, 0.0, 60, 1, 100.0, 0.05, 0.0, 0.0,
                            tuned ? -50.0 : 0.0, 3);
    EXPECT_EQ(f.steps, 0);
    if (tuned) {
      EXPECT_LT(fabs(f.frequencyLeftPpm), 0.5);
    } else {
      EXPECT_GT(fabs(f.frequencyLeftPpm), 45.0);
    }
  }
}

// Drives the loop by hand on a clock that is right: samples at 0 ms but for
// the ones given.
DisciplineCommand Feed(DisciplineState* state, int64_t* now, double offset) {
  *now += 60000;
  return DisciplineSample(state, offset, *now, 60, 100.0);
}

TEST(Discipline, OutlierDroppedJumpFollowedStepAsked) {
  DisciplineState state;
  ResetDiscipline(&state, 12.0, SlewAtKernelRate);
  int64_t now = 0;
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Feed(&state, &now, (i % 2) ? 2.0 : -2.0).action, DisciplineAdjust);
  double frequency = state.frequencyPpm;

  // One sample 60 ms off: dropped, nothing changes.
  DisciplineCommand c = Feed(&state, &now, 60.0);
  EXPECT_EQ(c.action, DisciplineNothing);
  EXPECT_EQ(c.outlier, 1);
  EXPECT_EQ(state.frequencyPpm, frequency);
  EXPECT_EQ(Feed(&state, &now, 1.0).action, DisciplineAdjust);

  // The clock jumped by 60 ms: after three samples the loop slews it away.
  EXPECT_EQ(Feed(&state, &now, 60.0).outlier, 1);
  EXPECT_EQ(Feed(&state, &now, 60.0).outlier, 1);
  c = Feed(&state, &now, 60.0);
  EXPECT_EQ(c.action, DisciplineAdjust);
  EXPECT_NEAR(c.slewMs, 60.0, 1.0);
  EXPECT_NEAR(c.frequencyPpm, frequency, 1.0);

  // At the step threshold and beyond, either sign: a step, frequency kept.
  const double big[] = {100.0, -100.0, 5000.0, NAN};
  for (double offset : big) {
    c = Feed(&state, &now, offset);
    EXPECT_EQ(c.action, DisciplineStep) << offset;
    EXPECT_EQ(state.count, 0);
    EXPECT_EQ(DisciplineSlewLeft(&state, now), 0.0);
    EXPECT_NEAR(c.frequencyPpm, frequency, 1.0);
  }
  EXPECT_EQ(Feed(&state, &now, 99.0).action, DisciplineAdjust);
}

TEST(Discipline, SlewBookkeeping) {
  DisciplineState state;
  ResetDiscipline(&state, 0.0, SlewAtKernelRate);
  DisciplineCommand c = DisciplineSample(&state, 10.0, 1000, 60, 100.0);
  EXPECT_EQ(c.slewMs, 10.0);
  // 500 ppm: 10 ms take 20 s; the kernel ends it by itself.
  EXPECT_NEAR(DisciplineSlewLeft(&state, 11000), 5.0, 1e-9);
  EXPECT_EQ(DisciplineSlewLeft(&state, 21000), 0.0);
  EXPECT_EQ(DisciplineSlewEnds(&state, 30000), 0);

  // Spread over half a minute's point; the shell ends it when it is done.
  ResetDiscipline(&state, 0.0, SlewSpread);
  c = DisciplineSample(&state, -3.0, 1000, 60, 100.0);
  EXPECT_EQ(c.slewMs, -3.0);
  EXPECT_NEAR(c.slewRatePpm, 100.0, 1e-9);
  EXPECT_EQ(DisciplineSlewEnds(&state, 30000), 0);
  EXPECT_EQ(DisciplineSlewEnds(&state, 31000), 1);
  EXPECT_EQ(DisciplineSlewEnds(&state, 32000), 0);
}

TEST(Discipline, DriftText) {
  char text[DriftTextSize];
  FormatDrift(text, sizeof text, -12.3456);
  EXPECT_STREQ(text, "-12.346\n");
  double ppm = 99.0;
  EXPECT_EQ(ParseDrift(text, &ppm), 1);
  EXPECT_DOUBLE_EQ(ppm, -12.346);
  const struct {
    const char* text;
    int ok;
    double ppm;
  } cases[] = {
      {"+0.000\n", 1, 0.0}, {" 500 \r\n", 1, 500.0}, {"-500.0", 1, -500.0}, {"7.", 1, 7.0},
      {"", 0, 0}, {"\n", 0, 0}, {"500.5\n", 0, 0}, {"12,5\n", 0, 0}, {"1e3\n", 0, 0},
      {"nan\n", 0, 0}, {"+\n", 0, 0}, {"12\n13\n", 0, 0}, {"0x10", 0, 0},
  };
  for (const auto& c : cases) {
    ppm = 99.0;
    EXPECT_EQ(ParseDrift(c.text, &ppm), c.ok) << c.text;
    EXPECT_DOUBLE_EQ(ppm, c.ok ? c.ppm : 99.0) << c.text;
  }
}

}  // namespace
