// The clock discipline's shell: refusal beside a feed, the drift file, slew or
// step, a refused adjustment; adjustments recorded in the system-call table.
#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "clock/discipline_adjust.h"
#include "config/paths.h"
#include "config/settings.h"
#include "driver/poll.h"
#include "support/fake_clockset.h"
#include "support/testutil.h"

namespace {

// Half of Windows' tick adjustment unit, 1/156250 of its tick (6.4 ppm).
const double RateUnitPpm = 1e6 / 156250.0 / 2.0 + 0.01;

class ClockLoop : public ::testing::Test {
 protected:
  void SetUp() override { Start(); }
  void TearDown() override { StopClockLoop(&TestRun.loop); }
  static void Start(int discipline = 1, int setTime = 1) {
    ResetProgramState();
    Settings.ChronySocket[0] = '\0';
    Settings.DCFSetTime = setTime;
    Settings.ClockDiscipline = discipline;
  }
  // A sample a minute after the last, carried out as the poll does; 1 when
  // the loop took it, 0 when the clock is to be set as without it.
  static int Sample(double offset) {
    static int64_t now = 0;
    now += 60000;
    DisciplineState* state = RunningDiscipline(&TestRun.loop);
    if (state == nullptr) return 0;
    DisciplineCommand command = DisciplineSample(state, offset, now, 60, (double)Settings.SynchronizeDiff);
    ApplyDisciplineCommand(&TestRun.loop, &command);
    return command.action != DisciplineStep && RunningDiscipline(&TestRun.loop) != nullptr;
  }
};

TEST_F(ClockLoop, OffOrRefusedBesideAFeed) {
  struct {
    const char* name;
    int discipline, setTime, shmUnit;
    const char* socket;
    std::vector<std::string> lines;
  } cases[] = {
      {"off", 0, 1, -1, "", {}},
      {"clock not set", 1, 0, -1, "", {}},
      {"shared memory", 1, 1, 0, "", {"ClockDiscipline refused: a time daemon disciplines the clock"}},
      {"chrony", 1, 1, -1, "/run/x.sock", {"ClockDiscipline refused: a time daemon disciplines the clock"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(c.discipline, c.setTime);
    Settings.NtpShmUnit = c.shmUnit;
    strcpy(Settings.ChronySocket, c.socket);
    StartClockLoop(&TestRun.loop);
    EXPECT_EQ(RunningDiscipline(&TestRun.loop), nullptr);
    EXPECT_EQ(Sample(5.0), 0);
    EXPECT_EQ(LoggedMessages(), c.lines);
    EXPECT_EQ(FakeAdjust.calls, 0);
    StopClockLoop(&TestRun.loop);
    EXPECT_FALSE(FileExists(Paths.drift));
  }
}

TEST_F(ClockLoop, DriftFileReadOrIgnoredAndWrittenAtTheEnd) {
  struct {
    bool present;
    std::string content;
    double ppm;
    bool damaged;
  } cases[] = {
      {false, "", 0.0, false},
      {true, "+12.500\n", 12.5, false},
      {true, "-31.25\r\n", -31.25, false},
      {true, "", 0.0, true},
      {true, "-31.25", 0.0, true},  // cut short: no line feed
      {true, "abc\n", 0.0, true},
      {true, "600\n", 0.0, true},
      {true, std::string("1\0 2\n", 5), 0.0, true},
      {true, "1" + std::string(100, ' ') + "\n", 0.0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.present ? c.content : "no file");
    Start();
    if (c.present) WriteFile(Paths.drift, c.content);
    StartClockLoop(&TestRun.loop);
    char start[64];
    snprintf(start, sizeof start, "Discipline: frequency %+.3f ppm at start", c.ppm);
    std::vector<std::string> expected;
    if (c.damaged) expected.push_back(std::string("Drift file ") + Paths.drift + " damaged, ignored");
    expected.push_back(start);
    EXPECT_EQ(LoggedMessages(), expected);
    EXPECT_GE(FakeAdjust.calls, 1);
    EXPECT_NEAR(FakeAdjust.ratePpm, c.ppm, RateUnitPpm);  // the frequency alone: no slew
    EXPECT_EQ(FakeAdjust.slewMs, 0.0);
    // The end: the slew ended, the frequency kept, the file written afresh.
    int calls = FakeAdjust.calls;
    StopClockLoop(&TestRun.loop);
    EXPECT_EQ(FakeAdjust.calls, calls + 1);
    EXPECT_NEAR(FakeAdjust.ratePpm, c.ppm, RateUnitPpm);
    char text[32];
    snprintf(text, sizeof text, "%+.3f\n", c.ppm);
    EXPECT_EQ(ReadFile(Paths.drift), text);
    StopClockLoop(&TestRun.loop);
    EXPECT_EQ(FakeAdjust.calls, calls + 1) << "once only";
  }
}

// The drift file is replaced whole: a write that fails at any step leaves
// the old file as it was.
TEST_F(ClockLoop, TheOldDriftFileSurvivesAFailedWrite) {
  for (int fault : {FileNone, FileOpenForWrite, FileText, FileSync, FileReplace}) {
    SCOPED_TRACE(fault);
    Start();
    WriteFile(Paths.drift, "+7.000\n");
    StartClockLoop(&TestRun.loop);
    FailFileCall(fault, ENOSPC);
    WriteFile(Paths.drift, "+3.000\n");  // the old value the end replaces
    StopClockLoop(&TestRun.loop);
    ResetTestOsCalls();
    EXPECT_EQ(ReadFile(Paths.drift), fault == FileNone ? "+7.000\n" : "+3.000\n");
    if (fault == FileNone) {
      EXPECT_FALSE(FileExists(std::string(Paths.drift) + ".new"));
    }
  }
}

TEST_F(ClockLoop, SamplesSlewedBelowTheThresholdStepsLeftToTheSetting) {
  WriteFile(Paths.drift, "+20.000\n");
  StartClockLoop(&TestRun.loop);
  ASSERT_NE(RunningDiscipline(&TestRun.loop), nullptr);
  int calls = FakeAdjust.calls;
  // One point waits for a second that agrees; then 40 ms ahead: slewed back,
  // the frequency kept for lack of points.
  EXPECT_EQ(Sample(40.0), 1);
  EXPECT_EQ(FakeAdjust.calls, calls);
  EXPECT_EQ(Sample(40.0), 1);
  EXPECT_GT(FakeAdjust.calls, calls);
  if (PcClockSlewStyle() == SlewAtKernelRate) {
    EXPECT_DOUBLE_EQ(FakeAdjust.slewMs, 40.0);
  }
  EXPECT_EQ(LoggedMessages().back(), "Discipline: offset -40.0 ms, frequency +20.0 ppm");
  // A wild sample is dropped; at SynchronizeDiff it persists: the slew ends,
  // the setting steps.
  EXPECT_EQ(Sample(-60.0), 1);
  EXPECT_EQ(LoggedMessages().back(), "Discipline: sample dropped");
  EXPECT_EQ(Sample(-150.0), 1);
  EXPECT_EQ(Sample(-150.0), 1);
  EXPECT_EQ(Sample(-150.0), 0);
  EXPECT_EQ(FakeAdjust.slewMs, 0.0);
  EXPECT_NEAR(FakeAdjust.ratePpm, 20.0, RateUnitPpm);
}

TEST_F(ClockLoop, ARefusedAdjustmentStopsTheLoopAndSavesNothing) {
  for (int failAtStart : {1, 0}) {  // refused at start, or from the first correction
    SCOPED_TRACE(failAtStart);
    Start();
    WriteFile(Paths.drift, "+20.000\n");
    FakeAdjust.fail = failAtStart;
    FakeAdjust.failCode = EPERM;
    StartClockLoop(&TestRun.loop);
    Sample(3.0);
    FakeAdjust.fail = 1;
    EXPECT_EQ(Sample(3.0), 0);
    std::vector<std::string> lines = LoggedMessages();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Can't adjust time! errno 1"), 1);
    // Stopped: every later sample is the setting's, nothing more is asked
    // of the system, and the drift file keeps what it had.
    int calls = FakeAdjust.calls;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Sample(1.0), 0);
    StopClockLoop(&TestRun.loop);
    EXPECT_EQ(FakeAdjust.calls, calls);
    EXPECT_EQ(ReadFile(Paths.drift), "+20.000\n");
  }
}

}  // namespace
