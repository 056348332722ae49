// The clock discipline in the program itself against the simulator, whose
// time is the truth (the machine's real time). The program's PC clock is
// modelled by a preloaded library (support/driftclock.cpp): 700 ms ahead
// and 50 ppm fast at the start, honouring the frequency and the single-shot
// slew the program asks for, recording each adjustment with the clock's
// offset just before it. Polls without pause (timer=0). Bounds are
// generous; bench/discipline measures the loop itself.
#include <gtest/gtest.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <sys/timex.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/programrun.h"
#include "support/simulator.h"
#include "support/testutil.h"

namespace {

struct Adjustment {
  unsigned modes;
  long long monotonicMs;
  double offsetMs;  // the modelled clock against the truth, before the call
  double frequencyPpm;
  double slewUs;
};

TEST(ProgramDiscipline, ConvergesWithoutStepsAndHoldsItsFrequencyAtCtrlC) {
  const double naturalPpm = 50.0;
  const int runSeconds = 150;
  Simulator sim;
  ProgramRun run;
  run.Prepare(ScratchDirectory(), "discipline");
  ASSERT_TRUE(sim.Start(run.dir, {}));
  std::string port = sim.Line();
  ASSERT_FALSE(port.empty());
  run.Settings("port=" + port +
               "\ntimer=0\nTimerEnable=1\nValidDateTimeCount=1\nDCFSetTime=1\n"
               "ClockDiscipline=1\n");
  std::string record = run.dir + "model.txt";
  std::vector<std::string> extra = {"LD_PRELOAD=" DCFSYNC_DRIFTCLOCK,
                                    "DCFSYNC_MODEL_RECORD=" + record,
                                    "DCFSYNC_CLOCK_SHIFT_MS=700", "DCFSYNC_MODEL_PPM=50"};
  const char* asan = getenv("ASAN_OPTIONS");
  extra.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0");
  ASSERT_TRUE(run.Start(extra));
  sleep(runSeconds);
  kill(run.pid, SIGINT);
  EXPECT_EQ(3, run.Wait(runSeconds + 30));
  EXPECT_EQ("", run.Errors());

  std::vector<Adjustment> adjustments;
  for (const std::string& line : SplitLines(ReadFile(record))) {
    Adjustment a;
    ASSERT_EQ(5, sscanf(line.c_str(), "%u %lld %lf %lf %lf", &a.modes, &a.monotonicMs,
                        &a.offsetMs, &a.frequencyPpm, &a.slewUs))
        << line;
    adjustments.push_back(a);
  }
  std::string log = run.Log();
  ASSERT_GE(adjustments.size(), 10u) << log;

  // One step, the first synchronisation (700 ms), and none after it.
  int steps = 0;
  for (const Adjustment& a : adjustments) steps += a.modes == 0;
  EXPECT_EQ(1, steps) << log;
  EXPECT_EQ(1, Count(log, "Synchronizing time to"));
  EXPECT_GE(Count(log, "Discipline: offset "), 5);

  // Over the last minute the modelled clock stays near the truth and its
  // frequency error is mostly taken away.
  long long end = adjustments.back().monotonicMs;
  double worst = 0.0;
  for (const Adjustment& a : adjustments) {
    if (a.monotonicMs < end - 60000) continue;
    worst = fmax(worst, fabs(a.offsetMs));
  }
  EXPECT_LT(worst, 15.0) << log;
  const Adjustment& last = adjustments.back();
  EXPECT_LT(fabs(naturalPpm + last.frequencyPpm), 15.0) << log;

  // Ctrl-C: the slew stopped, the frequency left as it was, the drift file
  // written with it.
  EXPECT_EQ((unsigned)ADJ_OFFSET_SINGLESHOT, last.modes);
  EXPECT_EQ(0.0, last.slewUs);
  double drift = 0.0;
  ASSERT_EQ(1, sscanf(ReadFile(run.dir + "dcfsync.drift").c_str(), "%lf", &drift));
  EXPECT_NEAR(last.frequencyPpm, drift, 0.001);
}

}  // namespace
