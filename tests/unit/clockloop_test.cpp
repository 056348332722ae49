// The clock discipline's shell: the refusal beside a time daemon's feed, the
// drift file read, damaged and written, samples slewed or left to the step,
// and the holdover at the end.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "config/paths.h"
#include "config/settings.h"
#include "driver/clockloop.h"
#include "os/monotonic.h"
#include "support/fake_clockset.h"
#include "support/testutil.h"

namespace {

// A sample of the PC clock's difference taken by the running loop and its
// command carried out, as the poll's decision and its shell do; 1 when the
// loop took it, 0 when it asks for the step.
int TakeSample(double difference) {
  DisciplineCommand command = DisciplineSample(RunningDiscipline(), difference, MonotonicMs(),
                                               60, (double)Settings.SynchronizeDiff);
  ApplyDisciplineCommand(&command);
  return command.action != DisciplineStep;
}

class ClockLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProgramState();
    Settings.ChronySocket[0] = '\0';
    Settings.DCFSetTime = 1;
    Settings.ClockDiscipline = 1;
  }
  void TearDown() override { StopClockLoop(); }
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
    ResetProgramState();
    Settings.ClockDiscipline = c.discipline;
    Settings.DCFSetTime = c.setTime;
    Settings.NtpShmUnit = c.shmUnit;
    strcpy(Settings.ChronySocket, c.socket);
    StartClockLoop();
    EXPECT_EQ(RunningDiscipline(), nullptr);
    EXPECT_EQ(LoggedMessages(), c.lines);
    EXPECT_EQ(FakeAdjust.adjustCalls, 0);
    StopClockLoop();
    EXPECT_FALSE(FileExists(Paths.drift));
  }
  Settings.ChronySocket[0] = '\0';
}

TEST_F(ClockLoop, DriftFileReadOrIgnored) {
  struct {
    bool present;
    std::string content;
    double ppm;
    bool damaged;
  } cases[] = {
      {false, "", 0.0, false},           {true, "+12.500\n", 12.5, false},
      {true, "-31.25", -31.25, false},   {true, "", 0.0, true},
      {true, "abc\n", 0.0, true},        {true, "600\n", 0.0, true},
      {true, std::string("1\0 2", 4), 0.0, true},
      {true, "1" + std::string(100, ' '), 0.0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.present ? c.content : "no file");
    ResetProgramState();
    Settings.DCFSetTime = 1;
    Settings.ClockDiscipline = 1;
    if (c.present) WriteFile(Paths.drift, c.content);
    StartClockLoop();
    std::vector<std::string> lines = LoggedMessages();
    char start[64];
    snprintf(start, sizeof start, "Discipline: frequency %+.3f ppm at start", c.ppm);
    std::vector<std::string> expected;
    if (c.damaged) expected.push_back(std::string("Drift file ") + Paths.drift + " damaged, ignored");
    expected.push_back(start);
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(FakeAdjust.adjustCalls, 1);
    EXPECT_DOUBLE_EQ(FakeAdjust.frequencyPpm, c.ppm);
    EXPECT_EQ(FakeAdjust.slewMs, 0.0);
    // The end: slew stopped, frequency kept, the file written afresh.
    StopClockLoop();
    EXPECT_EQ(FakeAdjust.endCalls, 1);
    char text[32];
    snprintf(text, sizeof text, "%+.3f\n", c.ppm);
    EXPECT_EQ(ReadFile(Paths.drift), text);
    StopClockLoop();
    EXPECT_EQ(FakeAdjust.endCalls, 1) << "once only";
  }
}

TEST_F(ClockLoop, SamplesSlewedBelowTheThresholdStepsLeftToTheSetting) {
  Settings.TimerEnable = 1;  // a poll a minute: each sample a point
  WriteFile(Paths.drift, "+20.000\n");
  StartClockLoop();
  ASSERT_NE(RunningDiscipline(), nullptr);
  // 40 ms ahead: slewed back, the frequency kept for lack of points.
  EXPECT_EQ(TakeSample(40.0), 1);
  EXPECT_EQ(FakeAdjust.adjustCalls, 2);
  EXPECT_DOUBLE_EQ(FakeAdjust.slewMs, 40.0);
  EXPECT_DOUBLE_EQ(FakeAdjust.frequencyPpm, 20.0);
  EXPECT_EQ(LoggedMessages().back(), "Discipline: offset -40.0 ms, frequency +20.0 ppm");
  // At SynchronizeDiff: the slew stops, the setting steps.
  EXPECT_EQ(TakeSample(-100.0), 0);
  EXPECT_EQ(FakeAdjust.endCalls, 1);
  EXPECT_EQ(FakeAdjust.slewMs, 0.0);
  // A refused adjustment is logged.
  FakeAdjust.fail = 1;
  FakeAdjust.failCode = 1;
  EXPECT_EQ(TakeSample(-3.0), 1);
  std::vector<std::string> lines = LoggedMessages();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Discipline: offset +3.0 ms, frequency +20.0 ppm");
  EXPECT_EQ(lines.back(), "Can't adjust time! errno 1");
}

}  // namespace
