// The program itself, run as its users run it, against the receiver
// simulator: a copy of the executable with its settings file beside it, its
// console output, log and data file, and its exit status.
//
// Every run drops the privilege to set the clock when started as root, so no
// run can change the machine's time (see support/programrun.h); the
// clock-setting run also has clock_settime replaced by a recording stub.
#include <fcntl.h>
#include <math.h>
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

// The environment of a run whose clock_settime is the recording stub.
std::vector<std::string> StubbedClock(const std::string& record) {
  unlink(record.c_str());
  std::vector<std::string> extra = {"LD_PRELOAD=" DCFSYNC_SETTIME_STUB,
                                    "DCFSYNC_SETTIME_RECORD=" + record};
  // A sanitized build must accept a library preloaded ahead of its runtime.
  const char* asan = getenv("ASAN_OPTIONS");
  extra.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0");
  return extra;
}

TEST_F(ProgramTest, TelegramsThatRunAheadOfTheMonotonicClockNeverSetIt) {
  // Ten minutes ahead, and every answer a minute later than the one before:
  // counted each time, but no two agree with the time between their polls.
  StartSimulator({"--offset", "600", "--step", "60"});
  run.Settings("port=" + port + "\ntimer=0\nTimerEnable=1\nDCFSetTime=1\n");
  std::string record = run.dir + "settime.txt";
  ASSERT_TRUE(run.Start(StubbedClock(record)));
  ASSERT_TRUE(run.AwaitText("dcfsync.log", "ContValidTime: 5", 1, 30)) << run.Output();
  kill(run.pid, SIGINT);
  EXPECT_EQ(3, run.Wait());
  std::string log = run.Log();
  EXPECT_GE(Count(log, "Telegram disagrees with the one before, new chain"), 4) << log;
  EXPECT_EQ(std::string::npos, log.find("Synchronizing time to ")) << log;
  EXPECT_FALSE(FileExists(record));
}

TEST_F(ProgramTest, OnlyAgreeingTelegramsSetTheClockNeverAParityValidCorruptedOne) {
  // Ten minutes ahead, the module at about second 52 when the run starts;
  // its hour corrupted at seconds 20-29 of each minute, its minute at 40-49,
  // parity still even. Two counted telegrams must agree before a set.
  time_t start = time(nullptr);
  long offset = 600 + ((52 - (long)(start % 60)) % 60 + 60) % 60;
  StartSimulator({"--offset", std::to_string(offset), "--fault", "flipped"});
  run.Settings("port=" + port + "\ntimer=0\nTimerEnable=1\nDCFSetTime=1\nValidDateTimeCount=2\n");
  std::string record = run.dir + "settime.txt";
  std::vector<std::string> extra = StubbedClock(record);
  extra.push_back("TZ=America/New_York");
  ASSERT_TRUE(run.Start(extra));
  // Set at the next minute, then the hour and the minute corrupted (each
  // followed by a good telegram starting a chain again), then set again at
  // the minute after.
  ASSERT_TRUE(run.AwaitText("dcfsync.log", "Telegram disagrees", 4, 100)) << run.Log();
  size_t setsBefore = SplitLines(ReadFile(record)).size();
  ASSERT_TRUE(run.AwaitText("settime.txt", "\n", (int)setsBefore + 1, 40)) << run.Log();
  kill(run.pid, SIGINT);
  EXPECT_EQ(3, run.Wait(200));

  std::vector<std::string> calls = SplitLines(ReadFile(record));
  EXPECT_GT(setsBefore, 0u);
  for (const std::string& call : calls) {
    long long seconds = 0, realSeconds = 0;
    long nanoseconds = 0, realNanoseconds = 0;
    int clock = -1;
    ASSERT_EQ(5, sscanf(call.c_str(), "%d %lld %ld %lld %ld", &clock, &seconds, &nanoseconds,
                        &realSeconds, &realNanoseconds));
    double wrong = (double)(seconds - realSeconds - offset) + (nanoseconds - realNanoseconds) / 1e9;
    EXPECT_LT(fabs(wrong), 1.0) << call;
  }
  std::string log = run.Log();
  // The disagreeing telegrams were logged and counted as always.
  size_t first = log.find("Telegram disagrees");
  ASSERT_NE(std::string::npos, first);
  EXPECT_NE(std::string::npos, log.find("Synchronizing time to "));
  EXPECT_LT(log.find("Synchronizing time to "), first);
  EXPECT_NE(std::string::npos, log.find("Synchronizing time to ", log.rfind("Telegram disagrees")));
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
