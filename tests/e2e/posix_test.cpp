// The program itself, run as its users run it, against the receiver
// simulator: a copy of the executable with its settings file beside it, its
// console output, log and data file, and its exit status.
//
// Every run drops the privilege to set the clock when started as root, so no
// run can change the machine's time (see support/programrun.h); the
// clock-setting run also has clock_settime replaced by a recording stub.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/golden.h"
#include "support/programrun.h"
#include "support/simulator.h"
#include "support/testutil.h"

namespace {

class ProgramTest : public testing::Test {
 protected:
  Simulator sim;
  ProgramRun run;
  std::string port;
  void StartSimulator(std::vector<std::string> args = {}) {
    std::string where = SimDirectory();
    run.Prepare(where);
    ASSERT_TRUE(sim.Start(where, args));
    port = sim.Line();
    ASSERT_FALSE(port.empty()) << ReadFile(where + "stderr.txt");
  }
};

// The transcript of one poll (golden file raw or decoded), console and log
// alike; the module's time is the PC's own, so the difference is the
// fraction of a second the answer took.
void CheckOnePollTranscript(const std::string& output, const std::string& log,
                            const std::string& port, const char* scenario) {
  ExpectTranscript(scenario, output, {{"PORT", port}});
  ExpectLogIsConsole(log, output);
  std::vector<std::string> lines = SplitLines(output);
  ASSERT_EQ(8u, lines.size());
  EXPECT_TRUE(Matches(Message(lines[6]), "Time diff: -?0d 00:00:00\\.\\d{3} ContValidTime: 1"))
      << lines[6];
}

TEST_F(ProgramTest, OneRawPollWritesTheTranscriptLogAndDataLine) {
  StartSimulator();
  run.Settings("port=" + port + "\nbaud=19200\nTimerEnable=0\nWriteData=1\n");
  ASSERT_TRUE(run.Start());
  EXPECT_EQ(0, run.Wait());
  // The 1-second power-up wait and the 5-second final wait.
  EXPECT_GE(run.Seconds(), 6.0);
  std::string output = run.Output();
  CheckOnePollTranscript(output, run.Log(), port, "raw");

  // One data line: stamp, the frame's bytes 12 to 23 as in the dump, then
  // the telegram's bit groups.
  std::vector<std::string> data = SplitLines(ReadFile(run.dir + "dcfsync.dat"));
  ASSERT_EQ(1u, data.size());
  std::string frame = Message(SplitLines(output)[3]);
  EXPECT_EQ(frame.substr(12 * 3, 12 * 3), Message(data[0]).substr(0, 12 * 3));
  EXPECT_TRUE(Matches(Message(data[0]).substr(12 * 3), "([01]{8} ){9}")) << data[0];
}

TEST_F(ProgramTest, DecodedPollByBareNameFindsTheSettingsBesideTheExecutable) {
  StartSimulator();
  run.Settings("port=" + port + "\nTimerEnable=0\nTimerGetDecodedTime=1\nWriteData=0\n");
  // Started as "dcfsync" through PATH from "/": the program's own path comes
  // from the system, not from the bare name it was given.
  ASSERT_TRUE(run.Start({}, true));
  EXPECT_EQ(0, run.Wait());
  std::string output = run.Output();
  EXPECT_EQ(std::string::npos, output.find("Error argv[]!"));
  CheckOnePollTranscript(output, run.Log(), port, "decoded");
  EXPECT_FALSE(FileExists(run.dir + "dcfsync.dat"));
}

TEST_F(ProgramTest, PollingWithoutPauseEndsOnlyByCtrlC) {
  StartSimulator();
  run.Settings("port=" + port + "\ntimer=0\nTimerEnable=1\nWriteLog=0\n");
  ASSERT_TRUE(run.Start());
  ASSERT_TRUE(run.AwaitText("out.txt", "ContValidTime", 3, 30)) << run.Output();
  auto interrupted = std::chrono::steady_clock::now();
  kill(run.pid, SIGINT);
  EXPECT_EQ(3, run.Wait(120));
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - interrupted).count();
  EXPECT_GE(took, 0.9);  // the handler's 1-second wait
  EXPECT_LT(took, 5.0);
  std::string output = run.Output();
  EXPECT_NE(std::string::npos, output.find("\nCtrl-C\n"));
  // No countdown with timer 0, no shutdown lines and no status report.
  EXPECT_EQ(std::string::npos, output.find("secs left"));
  EXPECT_EQ(std::string::npos, output.find(" closed"));
  EXPECT_EQ(std::string::npos, output.find("Return errno"));
  // Polling stops with Ctrl-C: the port the handler closed is not polled on
  // while the handler waits its second.
  EXPECT_EQ(std::string::npos, output.find("Receive error!"));
  EXPECT_FALSE(FileExists(run.dir + "dcfsync.log"));
  // The port is released: the simulator serves another client at once.
  int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  EXPECT_GE(fd, 0);
  if (fd >= 0) close(fd);
}

TEST_F(ProgramTest, CountdownShowsTheSecondsLeftUntilTheNextPoll) {
  StartSimulator();
  run.Settings("port=" + port + "\ntimer=1\nTimerEnable=1\n");
  ASSERT_TRUE(run.Start());
  ASSERT_TRUE(run.AwaitText("out.txt", "  57 secs left \r", 1, 30)) << run.Output();
  kill(run.pid, SIGINT);
  EXPECT_EQ(3, run.Wait(40));
  std::string output = run.Output();
  size_t first = output.find("  59 secs left \r  58 secs left \r  57 secs left \r");
  EXPECT_NE(std::string::npos, first) << output;
  EXPECT_EQ(1, Count(output, "ContValidTime"));  // the next poll is a minute away
}

TEST_F(ProgramTest, WithoutSettingsFileEveryLookupFailsAndTheOpenToo) {
  run.Prepare(SimDirectory());
  ASSERT_TRUE(run.Start());
  EXPECT_EQ(254, run.Wait());
  EXPECT_GE(run.Seconds(), 5.0);
  ExpectTranscript("no-settings", run.Output(), {{"INI", run.dir + "dcfsync.ini"}});
  ExpectLogIsConsole(run.Log(), run.Output());  // WriteLog is on by default
}

TEST_F(ProgramTest, CtrlCDuringTheFinalWaitEndsWithStatus3) {
  run.Prepare(SimDirectory());
  ASSERT_TRUE(run.Start());
  ASSERT_TRUE(run.AwaitText("out.txt", "Return errno 254", 1, 10));
  kill(run.pid, SIGINT);
  EXPECT_EQ(3, run.Wait());
  EXPECT_LT(run.Seconds(), 4.5);  // well before the 5-second wait was over
  std::string output = run.Output();
  EXPECT_EQ("\nCtrl-C\n", output.substr(output.size() - 8));
}

TEST_F(ProgramTest, SilentModuleEndsWithStatus250) {
  StartSimulator({"--fault", "mute"});
  run.Settings("port=" + port + "\nTimerEnable=1\n");
  ASSERT_TRUE(run.Start());
  EXPECT_EQ(250, run.Wait());
  ExpectTranscript("silent", run.Output(), {{"PORT", port}});
}

TEST_F(ProgramTest, UnsupportedBaudRateEndsWithStatus253) {
  StartSimulator();
  run.Settings("port=" + port + "\nbaud=12345\n");
  ASSERT_TRUE(run.Start());
  EXPECT_EQ(253, run.Wait());
  ExpectTranscript("bad-baud", run.Output(), {{"PORT", port}});
}

TEST_F(ProgramTest, ShortAnswerIsLoggedAndTheRunStillEndsNormally) {
  StartSimulator({"--fault", "silent"});  // identifies itself, sends no telegram
  run.Settings("port=" + port + "\nTimerEnable=0\nWriteData=1\n");
  ASSERT_TRUE(run.Start());
  EXPECT_EQ(0, run.Wait());
  ExpectTranscript("short-answer", run.Output(), {{"PORT", port}});
  EXPECT_FALSE(FileExists(run.dir + "dcfsync.dat"));
}

TEST_F(ProgramTest, ThreeValidTelegramsOfNewMinutesSetTheClock) {
  // Ten minutes ahead, and every answer a minute later than the one before.
  StartSimulator({"--offset", "600", "--step", "60"});
  run.Settings("port=" + port + "\ntimer=0\nTimerEnable=1\nDCFSetTime=1\n");
  std::string record = run.dir + "settime.txt";
  unlink(record.c_str());
  std::vector<std::string> extra = {"LD_PRELOAD=" DCFSYNC_SETTIME_STUB,
                                    "DCFSYNC_SETTIME_RECORD=" + record};
  // A sanitized build must accept a library preloaded ahead of its runtime.
  const char* asan = getenv("ASAN_OPTIONS");
  extra.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0");
  ASSERT_TRUE(run.Start(extra));
  ASSERT_TRUE(run.AwaitText("settime.txt", "\n", 1, 30)) << run.Output();
  time_t now = time(nullptr);
  kill(run.pid, SIGINT);
  EXPECT_EQ(3, run.Wait());

  std::vector<std::string> calls = SplitLines(ReadFile(record));
  ASSERT_GE(calls.size(), 1u);
  int clock = -1;
  long long seconds = 0;
  long nanoseconds = -1;
  ASSERT_EQ(3, sscanf(calls[0].c_str(), "%d %lld %ld", &clock, &seconds, &nanoseconds));
  EXPECT_EQ(CLOCK_REALTIME, clock);
  // The third telegram: 600 + 2 x 60 seconds ahead of the PC.
  EXPECT_NEAR(720.0, (double)(seconds - now), 5.0);
  EXPECT_GE(nanoseconds, 0);
  EXPECT_LT(nanoseconds, 1000000000L);

  // Counted 1, 2, 3, and set only at the third.
  std::string log = run.Log();
  size_t second = log.find("ContValidTime: 2");
  size_t third = log.find("ContValidTime: 3");
  size_t sync = log.find("Synchronizing time to ");
  ASSERT_NE(std::string::npos, log.find("ContValidTime: 1")) << log;
  ASSERT_NE(std::string::npos, second) << log;
  ASSERT_NE(std::string::npos, third) << log;
  ASSERT_NE(std::string::npos, sync) << log;
  EXPECT_LT(third, sync);
  EXPECT_EQ(std::string::npos, log.find("Can't set time"));
}

}  // namespace

namespace {

TEST_F(ProgramTest, WithoutThePrivilegeTheRefusalIsLogged) {
  // No stub: the real clock_settime is called, and refused, because the run
  // has no right to set the clock.
  StartSimulator({"--offset", "600"});
  run.Settings("port=" + port + "\nTimerEnable=0\nDCFSetTime=1\nValidDateTimeCount=1\n");
  ASSERT_TRUE(run.Start());
  EXPECT_EQ(0, run.Wait());
  ExpectTranscript("settime-refused", run.Output(), {{"PORT", port}});
  ExpectLogIsConsole(run.Log(), run.Output());
  // EPERM: the run has no right to set the clock.
  EXPECT_NE(std::string::npos, run.Log().find("Can't set time! errno 1\n")) << run.Log();
}

}  // namespace
