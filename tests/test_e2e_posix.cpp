// The program itself, run as its users run it, against the receiver
// simulator: a copy of the executable with its settings file beside it, its
// console output, log and data file, and its exit status.
//
// Every run drops the privilege to set the clock when started as root, so no
// run can change the machine's time; the clock-setting run also has
// clock_settime replaced by a recording stub.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/simulator.h"
#include "support/testutil.h"

namespace {

// German legal time, so the module's time and the PC's agree to the
// fraction of a second the exchange takes.
const char GermanZone[] = "TZ=CET-1CEST,M3.5.0,M10.5.0/3";

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// The line without its "dd.mm.yyyy hh:mm:ss " prefix; fails the test when the
// prefix is missing.
std::string Message(const std::string& line) {
  EXPECT_TRUE(HasTimestampPrefix(line)) << "no timestamp: " << line;
  return line.size() >= 20 ? line.substr(20) : line;
}

bool Matches(const std::string& text, const char* pattern) {
  return std::regex_match(text, std::regex(pattern));
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// One run of the program from its own directory.
struct ProgramRun {
  std::string dir;  // holds dcfsync, dcfsync.ini, .log, .dat, out.txt
  pid_t pid = -1;
  std::chrono::steady_clock::time_point started;

  // A fresh directory with a copy of the executable (a link would resolve
  // to the build's directory, where the program would look for its files).
  void Prepare(const std::string& where) {
    dir = where + "prog/";
    mkdir(dir.c_str(), 0700);
    for (const char* name : {"dcfsync.ini", "dcfsync.log", "dcfsync.dat", "out.txt"}) {
      unlink((dir + name).c_str());
    }
    WriteFile(dir + "dcfsync", ReadFile(DCFSYNC_PATH));
    ASSERT_EQ(0, chmod((dir + "dcfsync").c_str(), 0755));
  }
  void Settings(const std::string& text) { WriteFile(dir + "dcfsync.ini", "[init]\n" + text); }

  // Starts the program by its full path, or by its bare name found through
  // PATH from another working directory; extra holds NAME=value entries.
  bool Start(std::vector<std::string> extra = {}, bool bareName = false) {
    std::vector<std::string> env;
    std::vector<std::string> replaced = {"TZ=", "PATH="};
    for (const std::string& e : extra) replaced.push_back(e.substr(0, e.find('=') + 1));
    for (char** e = environ; *e != nullptr; ++e) {
      std::string entry = *e;
      bool keep = true;
      for (const std::string& name : replaced) keep = keep && entry.rfind(name, 0) != 0;
      if (keep) env.push_back(entry);
    }
    env.push_back(GermanZone);
    env.push_back("PATH=" + dir.substr(0, dir.size() - 1) + ":/usr/bin:/bin");
    for (const std::string& e : extra) env.push_back(e);

    std::vector<std::string> args;
    if (geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0) {
      // Without CAP_SYS_TIME even a call that slipped past the stub fails.
      args = {"/usr/bin/setpriv", "--inh-caps=-sys_time", "--bounding-set=-sys_time"};
    } else {
      args = {"/usr/bin/env"};
    }
    args.push_back(bareName ? "dcfsync" : dir + "dcfsync");

    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (dir + "out.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (dir + "err.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (bareName) posix_spawn_file_actions_addchdir_np(&actions, "/");
    started = std::chrono::steady_clock::now();
    int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed) pid = -1;
    return failed == 0;
  }

  // Exit status (128 + signal when killed); -1 when the program has not
  // ended within limit seconds.
  int Wait(double limit = 30) {
    auto end = started + std::chrono::milliseconds((long)(limit * 1000));
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(20000);
    }
    return -1;
  }
  // Waits until the named file holds text at least times; false after limit s.
  bool AwaitText(const std::string& file, const std::string& text, int times, double limit) {
    for (double waited = 0; waited < limit; waited += 0.05) {
      if (Count(ReadFile(dir + file), text) >= times) return true;
      usleep(50000);
    }
    return false;
  }
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  }
  std::string Output() const { return ReadFile(dir + "out.txt"); }
  std::string Log() const { return ReadFile(dir + "dcfsync.log"); }

  ~ProgramRun() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

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

// The transcript of one poll, console and log alike: opened, identification,
// dump, flags, date, difference, closed.
void CheckOnePollTranscript(const std::string& output, const std::string& log,
                            const std::string& port, int frameBytes) {
  std::vector<std::string> lines = SplitLines(output);
  ASSERT_EQ(8u, lines.size()) << output;
  EXPECT_EQ("Ctrl-C to exit", lines[0]);
  EXPECT_EQ(port + " opened", Message(lines[1]));
  EXPECT_EQ("DCFSIM 1.0<CR><LF>", Message(lines[2]));
  std::string dump = "([0-9A-F]{2} ){" + std::to_string(frameBytes) + "}";
  EXPECT_TRUE(Matches(Message(lines[3]), dump.c_str())) << lines[3];
  EXPECT_TRUE(Matches(Message(lines[4]), "R:0 A1:[01] Z1:[01] Z2:[01] A2:0 S:1")) << lines[4];
  EXPECT_TRUE(Matches(Message(lines[5]),
                      "\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\d\\d\\.\\d\\d\\.\\d{4} "
                      "(Monday|Tuesday|Wednesday|Thursday|Friday|Saturday|Sunday)"))
      << lines[5];
  // The module's time is the PC's own: the difference is the fraction of a
  // second the answer took.
  EXPECT_TRUE(Matches(Message(lines[6]), "Time diff: -?0d 00:00:00\\.\\d{3} ContValidTime: 1"))
      << lines[6];
  EXPECT_EQ(port + " closed", Message(lines[7]));
  // The log holds the same lines, stamps included; the console-only text not.
  std::vector<std::string> logged = SplitLines(log);
  ASSERT_EQ(7u, logged.size()) << log;
  for (size_t i = 0; i < logged.size(); ++i) EXPECT_EQ(lines[i + 1], logged[i]);
}

TEST_F(ProgramTest, OneRawPollWritesTheTranscriptLogAndDataLine) {
  StartSimulator();
  run.Settings("port=" + port + "\nbaud=19200\nTimerEnable=0\nWriteData=1\n");
  ASSERT_TRUE(run.Start());
  EXPECT_EQ(0, run.Wait());
  // The 1-second power-up wait and the 5-second final wait.
  EXPECT_GE(run.Seconds(), 6.0);
  std::string output = run.Output();
  CheckOnePollTranscript(output, run.Log(), port, 26);

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
  CheckOnePollTranscript(output, run.Log(), port, 10);
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
  std::vector<std::string> lines = SplitLines(run.Output());
  ASSERT_EQ(16u, lines.size()) << run.Output();
  EXPECT_EQ("Ctrl-C to exit", lines[0]);
  for (int i = 1; i <= 13; ++i) {
    EXPECT_EQ("Can't open file " + run.dir + "dcfsync.ini", Message(lines[i]));
  }
  EXPECT_EQ(" not opened", Message(lines[14]));
  EXPECT_EQ("Return errno 254", Message(lines[15]));
  EXPECT_EQ(15u, SplitLines(run.Log()).size());  // WriteLog is on by default
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
  std::vector<std::string> lines = SplitLines(run.Output());
  ASSERT_EQ(5u, lines.size()) << run.Output();
  EXPECT_EQ(port + " opened", Message(lines[1]));
  EXPECT_EQ("Receive error!", Message(lines[2]));
  EXPECT_EQ(port + " closed", Message(lines[3]));
  EXPECT_EQ("Return errno 250", Message(lines[4]));
}

TEST_F(ProgramTest, UnsupportedBaudRateEndsWithStatus253) {
  StartSimulator();
  run.Settings("port=" + port + "\nbaud=12345\n");
  ASSERT_TRUE(run.Start());
  EXPECT_EQ(253, run.Wait());
  std::vector<std::string> lines = SplitLines(run.Output());
  ASSERT_EQ(6u, lines.size()) << run.Output();
  EXPECT_EQ(port + " opened", Message(lines[1]));
  EXPECT_EQ("Invalid argument", Message(lines[2]));  // the system's text
  EXPECT_EQ("Can't set " + port, Message(lines[3]));
  EXPECT_EQ(port + " closed", Message(lines[4]));
  EXPECT_EQ("Return errno 253", Message(lines[5]));
}

TEST_F(ProgramTest, ShortAnswerIsLoggedAndTheRunStillEndsNormally) {
  StartSimulator({"--fault", "silent"});  // identifies itself, sends no telegram
  run.Settings("port=" + port + "\nTimerEnable=0\nWriteData=1\n");
  ASSERT_TRUE(run.Start());
  EXPECT_EQ(0, run.Wait());
  std::vector<std::string> lines = SplitLines(run.Output());
  ASSERT_EQ(5u, lines.size()) << run.Output();
  EXPECT_EQ("DCFSIM 1.0<CR><LF>", Message(lines[2]));
  EXPECT_EQ("Receive error!", Message(lines[3]));
  EXPECT_EQ(port + " closed", Message(lines[4]));
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
  std::string log = run.Log();
  size_t sync = log.find("Synchronizing time to ");
  size_t refused = log.find("Can't set time! errno 1\n");
  ASSERT_NE(std::string::npos, sync) << log;
  ASSERT_NE(std::string::npos, refused) << log;
  EXPECT_LT(sync, refused);
}

}  // namespace
