// The program itself run unattended, as schedulers and servers run it: with
// its standard streams closed, with a log or data file on a full disk, and
// with its log rotated under it by logrotate while it polls.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/programrun.h"
#include "support/simulator.h"
#include "support/testutil.h"

namespace {

const char Logrotate[] = "/usr/sbin/logrotate";  // where Debian's package puts it

class Unattended : public testing::Test {
 protected:
  Simulator sim;
  ProgramRun run;
  std::string port;
  // The simulator with --verbose, so that its error output lists every
  // command it was sent.
  void StartSimulator() {
    std::string where = SimDirectory();
    run.Prepare(where);
    ASSERT_TRUE(sim.Start(run.dir, {"--verbose"}));
    port = sim.Line();
    ASSERT_FALSE(port.empty()) << SimulatorSaw();
  }
  std::string SimulatorSaw() const { return ReadFile(run.dir + "stderr.txt"); }
};

// The codes of the commands the simulator was sent, in order ("01", "03").
std::vector<std::string> CommandsSeen(const std::string& simulatorErrors) {
  std::vector<std::string> codes;
  const std::string mark = "dcfsim: command ";
  for (const std::string& line : SplitLines(simulatorErrors)) {
    if (line.rfind(mark, 0) == 0) codes.push_back(line.substr(mark.size(), 2));
  }
  return codes;
}

// The messages of one good raw poll, from "opened" to "closed".
void ExpectOnePoll(const std::vector<std::string>& m, const std::string& port) {
  ASSERT_GE(m.size(), 7u);
  EXPECT_EQ(port + " opened", m[0]);
  EXPECT_EQ("DCFSIM 1.0<CR><LF>", m[1]);
  EXPECT_TRUE(Matches(m[2], "([0-9A-F]{2} ){26}")) << m[2];
  EXPECT_TRUE(Matches(m[3], "R:0 A1:[01] Z1:[01] Z2:[01] A2:0 S:1")) << m[3];
  EXPECT_TRUE(Matches(m[5], "Time diff: -?0d 00:00:0\\d\\.\\d{3} ContValidTime: 1")) << m[5];
  EXPECT_EQ(port + " closed", m[6]);
}

TEST_F(Unattended, StartedWithItsStandardStreamsClosedTheModuleSeesOnlyCommands) {
  StartSimulator();
  run.Settings("port=" + port + "\nTimerEnable=0\nWriteData=1\n");
  run.closedStreams = true;
  ASSERT_TRUE(run.Start());
  EXPECT_EQ(0, run.Wait());
  // The identification and one telegram command, nothing of the console.
  std::vector<std::string> want = {"01", "03"};
  EXPECT_EQ(want, CommandsSeen(SimulatorSaw())) << SimulatorSaw();
  std::vector<std::string> m = LogMessages(run.Log());
  ASSERT_EQ(7u, m.size()) << run.Log();
  ExpectOnePoll(m, port);
  EXPECT_EQ(1u, SplitLines(run.Data()).size());
}

// A full disk under the log or the data file: every line still reaches the
// console, and the failed writes end the run with their error number, 28
// (ENOSPC), instead of a false success.
TEST_F(Unattended, LogOrDataFileOnAFullDiskEndsTheRunWithItsErrorNumber) {
  for (const char* file : {"dcfsync.log", "dcfsync.dat"}) {
    SCOPED_TRACE(file);
    StartSimulator();
    run.Settings("port=" + port + "\nTimerEnable=0\nWriteData=1\n");
    ASSERT_EQ(0, symlink("/dev/full", (run.dir + file).c_str()));
    ASSERT_TRUE(run.Start());
    EXPECT_EQ(28, run.Wait());
    EXPECT_GE(run.Seconds(), 5.0);  // the final wait, as for any failure
    std::string output = run.Output();
    // The files opened: no "Cannot open" line.
    EXPECT_EQ(std::string::npos, output.find("Cannot open")) << output;
    std::vector<std::string> m = LogMessages(output);
    ASSERT_EQ(8u, m.size()) << output;
    ExpectOnePoll(m, port);
    EXPECT_EQ("Return errno 28", m[7]);
    if (std::string(file) == "dcfsync.dat") {
      // The log works and holds the same lines.
      EXPECT_EQ(m, LogMessages(run.Log()));
    }
    // Standard error, a service's journal, names the failure once.
    std::string what = std::string(file) == "dcfsync.dat" ? "data" : "log";
    EXPECT_EQ("dcfsync: " + what + " file " + run.dir + file + ": error 28\n", run.Errors());
    EXPECT_EQ(0, sim.Wait(SIGTERM));
  }
}

// A log that reaches the file size limit while the program polls on: the
// line being written is cut short (then refused, EFBIG), standard error
// says so once; once the limit is lifted the next line starts on a line of
// its own, and standard error says the log works again. Ctrl-C still ends
// the run with 3.
TEST_F(Unattended, LineCutShortByAFileSizeLimitIsFollowedByALineOfItsOwn) {
  StartSimulator();
  run.Settings("port=" + port + "\ntimer=0\nTimerEnable=1\n");
  const std::string log = run.dir + "dcfsync.log";
  const std::string before(4000, 'x');
  WriteFile(log, before + "\n");
  // The limit and the ignored SIGXFSZ are inherited by the program only.
  struct rlimit own, limited = {4025, 4025};
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &own));
  limited.rlim_max = own.rlim_max;
  void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
  bool started = run.Start();
  setrlimit(RLIMIT_FSIZE, &own);
  signal(SIGXFSZ, handler);
  ASSERT_TRUE(started);
  ASSERT_TRUE(run.AwaitText("err.txt", "error 27", 1, 30)) << run.Errors();
  ASSERT_EQ(0, prlimit(run.pid, RLIMIT_FSIZE, &own, nullptr));
  ASSERT_TRUE(run.AwaitText("dcfsync.log", "Time diff", 1, 60)) << run.Errors();
  kill(run.pid, SIGINT);
  EXPECT_EQ(3, run.Wait(60));
  EXPECT_EQ("dcfsync: log file " + log + ": error 27\ndcfsync: log file " + log + " works again\n",
            run.Errors());
  std::vector<std::string> lines = SplitLines(run.Log());
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(before, lines[0]);
  EXPECT_EQ(24u, lines[1].size()) << "the cut line: " << lines[1];
  for (size_t i = 2; i < lines.size(); ++i) {
    EXPECT_TRUE(HasTimestampPrefix(lines[i])) << lines[i];
  }
}

// Log rotation while the program polls without pause: logrotate rotates
// dcfsync.log between polls, once in its create mode and once in its
// copytruncate mode.
class Rotation : public Unattended {
 protected:
  // Rotates the log once with logrotate in the given mode ("create" or
  // "copytruncate"), with a state file of its own; 0 when it succeeded.
  int Rotate(const std::string& mode) {
    std::string config = run.dir + "logrotate.conf";
    WriteFile(config, run.dir + "dcfsync.log {\n  " + mode + "\n  rotate 3\n  nocompress\n}\n");
    chmod(config.c_str(), 0644);
    ChildProcess rotate;
    ChildStreams streams;
    streams.output = run.dir + "logrotate.out";
    streams.errors = run.dir + "logrotate.err";
    if (!rotate.Start({Logrotate, "--force", "--state", run.dir + "logrotate.state", config}, {},
                      streams)) {
      return -1;
    }
    return rotate.Wait(30);
  }
  // Polls on until the log named holds count more "Time diff" lines.
  bool AwaitPolls(const std::string& file, int count) {
    return run.AwaitText(file, "Time diff", count, 60);
  }
  void StartPolling() {
    ASSERT_EQ(0, access(Logrotate, X_OK)) << Logrotate << " is missing (scripts/test.sh installs it)";
    StartSimulator();
    run.Settings("port=" + port + "\ntimer=0\nTimerEnable=1\n");
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(AwaitPolls("dcfsync.log", 2)) << run.Output();
  }
  // Ctrl-C, then the console's time-stamped lines.
  std::vector<std::string> Stop() {
    kill(run.pid, SIGINT);
    EXPECT_EQ(3, run.Wait(60));
    std::vector<std::string> shown;
    for (const std::string& line : ConsoleLines(run.Output())) {
      if (HasTimestampPrefix(line)) shown.push_back(line);
    }
    return shown;
  }
};

// Every file holds whole lines only, and no zero byte (a writer that kept
// its old offset after a truncation would leave a hole of zeros).
void ExpectWholeLines(const std::string& content, const std::string& name) {
  EXPECT_EQ(std::string::npos, content.find('\0')) << name;
  if (!content.empty()) {
    EXPECT_EQ('\n', content.back()) << name;
  }
  for (const std::string& line : SplitLines(content)) {
    EXPECT_TRUE(HasTimestampPrefix(line)) << name << ": " << line;
  }
}

TEST_F(Rotation, CreateModeTheNextLineStartsANewFile) {
  StartPolling();
  ASSERT_EQ(0, Rotate("create")) << ReadFile(run.dir + "logrotate.err");
  ASSERT_TRUE(FileExists(run.dir + "dcfsync.log.1"));
  ASSERT_TRUE(AwaitPolls("dcfsync.log", 2)) << run.Output();
  std::vector<std::string> shown = Stop();
  std::string before = ReadFile(run.dir + "dcfsync.log.1"), after = run.Log();
  ExpectWholeLines(before, "dcfsync.log.1");
  ExpectWholeLines(after, "dcfsync.log");
  // The rotated file and the new one together hold every line, once and in
  // order: nothing is lost at the rename.
  std::vector<std::string> logged = SplitLines(before);
  ASSERT_GE(logged.size(), 5u);
  for (const std::string& line : SplitLines(after)) logged.push_back(line);
  EXPECT_EQ(shown, logged);
}

TEST_F(Rotation, CopytruncateLosesNothingButWhatWasTruncated) {
  StartPolling();
  ASSERT_EQ(0, Rotate("copytruncate")) << ReadFile(run.dir + "logrotate.err");
  ASSERT_TRUE(AwaitPolls("dcfsync.log", 2)) << run.Output();
  std::vector<std::string> shown = Stop();
  std::string copied = ReadFile(run.dir + "dcfsync.log.1"), after = run.Log();
  ExpectWholeLines(copied, "dcfsync.log.1");
  ExpectWholeLines(after, "dcfsync.log");
  // The copy is the console's first lines, the truncated file its last
  // ones. Only lines written between the copy and the truncation may be
  // missing: a poll writes 4 lines a second, and the two steps take
  // milliseconds, so never a whole poll's worth.
  std::vector<std::string> first = SplitLines(copied), last = SplitLines(after);
  ASSERT_GE(first.size(), 5u);
  ASSERT_GE(last.size(), 4u);
  ASSERT_LE(first.size() + last.size(), shown.size());
  EXPECT_EQ(std::vector<std::string>(shown.begin(), shown.begin() + (long)first.size()), first);
  EXPECT_EQ(std::vector<std::string>(shown.end() - (long)last.size(), shown.end()), last);
  EXPECT_LE(shown.size() - first.size() - last.size(), 3u);
}

}  // namespace
