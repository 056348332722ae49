// The program itself against a misbehaving receiver module, against files it
// cannot open, and with format characters in the names it logs. The runs of
// a test go on at the same time, each with its own simulator and directory.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "log/log.h"
#include "support/golden.h"
#include "support/programrun.h"
#include "support/simulator.h"
#include "support/testutil.h"

namespace {

const size_t LongestLine = LogLineSize - 2;  // without the line feed
const char DumpOf26[] = "([0-9A-F]{2} ){26}";

// What earlier runs left in the log and data file: more than a stdio buffer,
// a zero byte, and no line feed at the end.
std::string OldContent(const char* what) {
  std::string old;
  for (int i = 0; i < 300; ++i)
    old += std::string("earlier ") + what + " line " + std::to_string(i) + "\n";
  return old + std::string("\0\xff unfinished", 13);
}

// One run against a simulator of its own, both in the directory where + name.
// The port stays empty when Begin failed (the test's fatal-failure flag tells
// of every thread, not of this one).
struct SimRun {
  Simulator sim;
  ProgramRun run;
  std::string port;
  double interruptedAt = -1;  // seconds after the start Ctrl-C was sent, -1: not sent

  void Begin(const std::string& where, const std::string& name, std::vector<std::string> args) {
    run.Prepare(where, name);
    ASSERT_TRUE(FileExists(run.dir + "dcfsync"));
    args.push_back("--verbose");
    ASSERT_TRUE(sim.Start(run.dir, args));
    port = sim.Line();
    ASSERT_FALSE(port.empty()) << SimErrors();
  }
  void Prefill() {
    WriteFile(run.dir + "dcfsync.log", OldContent("log"));
    WriteFile(run.dir + "dcfsync.dat", OldContent("data"));
  }
  // Ctrl-C once the console holds text times; false when it never does.
  bool InterruptAt(const std::string& text, int times, double limit) {
    if (!run.AwaitText("out.txt", text, times, limit)) return false;
    interruptedAt = run.Seconds();
    kill(run.pid, SIGINT);
    return true;
  }
  std::string SimErrors() const { return ReadFile(run.dir + "stderr.txt"); }
};

// What every run must show: nothing on standard error (where a sanitizer
// would report), no line longer than a log line, the old file content kept
// as it was with the log's new lines the console's time-stamped ones.
void CheckFilesAndLines(const SimRun& r) {
  std::string output = r.run.Output();
  EXPECT_EQ("", r.run.Errors());
  EXPECT_EQ(0u, output.rfind("Ctrl-C to exit\n", 0)) << output;
  std::vector<std::string> shown;
  for (const std::string& line : ConsoleLines(output)) {
    EXPECT_LE(line.size(), LongestLine) << line.substr(0, 80);
    if (HasTimestampPrefix(line)) shown.push_back(line);
  }
  std::string log = r.run.Log(), data = r.run.Data(), oldLog = OldContent("log");
  ASSERT_EQ(oldLog, log.substr(0, oldLog.size())) << "log truncated or overwritten";
  EXPECT_EQ(shown, SplitLines(log.substr(oldLog.size())));
  EXPECT_EQ(OldContent("data"), data.substr(0, OldContent("data").size()))
      << "data file truncated or overwritten";
}

// A table row: the simulator's fault, the settings below "port=", when to
// press Ctrl-C (never when empty), the exit status and what else must hold.
struct FaultCase {
  const char* name;
  std::vector<std::string> sim;
  const char* settings;
  const char* interruptAt;
  int times;
  int status;
  double limit;  // seconds the whole run may take
  std::function<void(const SimRun&, const std::vector<std::string>&)> check;
};

// A dead or silent line costs each poll at least a second: the program
// waits on it instead of spinning, so "Receive error!" comes no more than
// once a second.
void ReceiveErrorsPaced(const SimRun& r, const std::vector<std::string>& m) {
  int errors = Count(r.run.Output(), "Receive error!");
  EXPECT_GE(errors, 2);
  EXPECT_LE(errors, (int)r.interruptedAt) << "after " << r.interruptedAt << " s";
  ASSERT_GE(m.size(), 3u);
  EXPECT_EQ("DCFSIM 1.0<CR><LF>", m[1]);
  for (size_t i = 2; i < m.size(); ++i) EXPECT_EQ("Receive error!", m[i]);
}

// A good telegram's decoding: flags, date, difference with the count (a
// pattern: polls without pause count only when the minute has changed).
void ExpectDecoded(const std::vector<std::string>& m, size_t dump, const char* count) {
  ASSERT_GT(m.size(), dump + 3);
  EXPECT_TRUE(Matches(m[dump + 1], "R:0 A1:[01] Z1:[01] Z2:[01] A2:0 S:1")) << m[dump + 1];
  EXPECT_TRUE(
      Matches(m[dump + 2], "\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\d\\d\\.\\d\\d\\.\\d{4} \\w+day"))
      << m[dump + 2];
  std::string diff = std::string("Time diff: -?0d 00:00:0\\d\\.\\d{3} ContValidTime: ") + count;
  EXPECT_TRUE(Matches(m[dump + 3], diff.c_str())) << m[dump + 3];
}

TEST(ProgramFaults, MisbehavingModuleNeverCrashesTheRunAndItsFilesOnlyGrow) {
  std::string where = ScratchDirectory();
  // clang-format off
  const std::vector<FaultCase> cases = {
      {"normal", {}, "TimerEnable=0\nWriteData=1\n", "", 0, 0, 30,
       [](const SimRun& r, const std::vector<std::string>& m) {
         ASSERT_EQ(7u, m.size());
         EXPECT_TRUE(Matches(m[2], DumpOf26)) << m[2];
         ExpectDecoded(m, 2, "1");
         EXPECT_EQ(OldContent("data").size() + 138, r.run.Data().size());
       }},
      {"interrupted", {}, "timer=0\nTimerEnable=1\nWriteData=1\n", "Time diff", 2, 3, 40,
       [](const SimRun& r, const std::vector<std::string>& m) {
         ASSERT_GE(m.size(), 8u);
         ExpectDecoded(m, 2, "1");
         ExpectDecoded(m, 6, "[12]");
         EXPECT_GE(r.run.Data().size(), OldContent("data").size() + 2 * 138);
       }},
      // Half an answer, then the line is gone: a short answer, logged.
      {"hangup-mid", {"--fault", "hangup-mid"}, "TimerEnable=0\nWriteData=1\n", "", 0, 0, 30,
       [](const SimRun& r, const std::vector<std::string>& m) {
         std::vector<std::string> want = {r.port + " opened", "DCFSIM 1.0<CR><LF>",
                                          "Receive error!", r.port + " closed"};
         EXPECT_EQ(want, m);
       }},
      // Gone at the telegram command: every later poll meets a dead line.
      {"hangup", {"--fault", "hangup"}, "timer=0\nTimerEnable=1\n", "Receive error!", 3, 3, 60,
       ReceiveErrorsPaced},
      {"silent", {"--fault", "silent"}, "timer=0\nTimerEnable=1\n", "Receive error!", 2, 3, 60,
       ReceiveErrorsPaced},
      // Random bytes of a telegram's length: dumped, and refused unless
      // bytes 12 and 13 happen to hold the marks of a complete telegram.
      {"garbage", {"--fault", "garbage"}, "TimerEnable=0\nWriteData=1\n", "", 0, 0, 30,
       [](const SimRun& r, const std::vector<std::string>& m) {
         ASSERT_GE(m.size(), 5u);
         ASSERT_TRUE(Matches(m[2], DumpOf26)) << m[2];
         bool complete = m[2].substr(12 * 3, 5) == "00 3B";
         EXPECT_EQ(!complete, m[3] == "Bad data!") << m[2];
         if (!complete) {
           EXPECT_EQ(5u, m.size());
           EXPECT_EQ(OldContent("data"), r.run.Data());
         }
         EXPECT_EQ(r.port + " closed", m.back());
       }},
      // The telegram, then 8000 bytes more: the first read takes 999 bytes,
      // the dump is cut at the longest message a log line holds (whole
      // pieces), and the telegram in front is decoded.
      {"flood", {"--fault", "flood", "--flood-bytes", "8000"}, "TimerEnable=0\n", "", 0, 0, 30,
       [](const SimRun&, const std::vector<std::string>& m) {
         ASSERT_EQ(7u, m.size());
         EXPECT_EQ((size_t)MaxMessageLength, m[2].size());
         EXPECT_TRUE(Matches(m[2], "([0-9A-F]{2} ){334}")) << m[2];
         EXPECT_EQ("00 3B", m[2].substr(12 * 3, 5));
         ExpectDecoded(m, 2, "1");
       }},
      // Polling on in the flood: each poll reads the flood, whatever it
      // holds, and every line stays within bounds.
      {"flood-polling", {"--fault", "flood", "--flood-bytes", "8000"},
       "timer=0\nTimerEnable=1\n", "Bad data!", 3, 3, 60,
       [](const SimRun&, const std::vector<std::string>& m) {
         ASSERT_GE(m.size(), 7u);
         EXPECT_EQ((size_t)MaxMessageLength, m[2].size());
         ExpectDecoded(m, 2, "1");
       }},
      // Bytes nobody asked for lie in the line before the identification
      // and before the second poll: each command drops them first, so the
      // answers come clean. The second poll is a minute after the first.
      {"stale", {"--fault", "stale", "--gap", "300"},
       "timer=1\nTimerEnable=1\n", "Time diff", 2, 3, 150,
       [](const SimRun& r, const std::vector<std::string>& m) {
         EXPECT_LE(2, Count(r.SimErrors(), "dcfsim: unasked (8 bytes)")) << r.SimErrors();
         ASSERT_EQ(10u, m.size());
         EXPECT_EQ("DCFSIM 1.0<CR><LF>", m[1]);
         EXPECT_TRUE(Matches(m[2], DumpOf26)) << m[2];
         EXPECT_TRUE(Matches(m[6], DumpOf26)) << m[6];
         ExpectDecoded(m, 2, "1");
         ExpectDecoded(m, 6, "[12]");  // 1 when both polls fell in one minute
       }},
      {"short-ident", {"--fault", "short-ident"}, "TimerEnable=1\n", "", 0, 250, 30,
       [](const SimRun& r, const std::vector<std::string>& m) {
         std::vector<std::string> want = {r.port + " opened", "Receive error!", r.port + " closed",
                                          "Return errno 250"};
         EXPECT_EQ(want, m);
       }},
      // Answers in five pieces 600 ms apart: gathered whole.
      {"trickle", {"--fault", "trickle"}, "TimerEnable=0\n", "", 0, 0, 30,
       [](const SimRun&, const std::vector<std::string>& m) {
         ASSERT_EQ(7u, m.size());
         EXPECT_TRUE(Matches(m[2], DumpOf26)) << m[2];
         ExpectDecoded(m, 2, "1");
       }},
      // Four bytes too many arrive with the answer and show in its dump.
      {"surplus", {"--fault", "surplus"}, "TimerEnable=0\n", "", 0, 0, 30,
       [](const SimRun&, const std::vector<std::string>& m) {
         ASSERT_EQ(7u, m.size());
         EXPECT_TRUE(Matches(m[2], "([0-9A-F]{2} ){30}")) << m[2];
         ExpectDecoded(m, 2, "1");
       }},
  };
  // clang-format on

  std::vector<std::thread> runs;
  for (const FaultCase& c : cases) {
    runs.emplace_back([&where, &c] {
      SCOPED_TRACE(c.name);
      SimRun r;
      r.Begin(where, c.name, c.sim);
      if (r.port.empty()) return;
      r.Prefill();
      r.run.Settings("port=" + r.port + "\n" + c.settings);
      ASSERT_TRUE(r.run.Start());
      if (c.interruptAt[0] != '\0') {
        ASSERT_TRUE(r.InterruptAt(c.interruptAt, c.times, c.limit)) << r.run.Output();
      }
      int status = r.run.Wait(c.limit);
      ASSERT_NE(-1, status) << "still running after " << c.limit << " s\n" << r.run.Output();
      EXPECT_EQ(c.status, status) << r.run.Output();
      std::string output = r.run.Output();
      if (r.interruptedAt >= 0) {
        EXPECT_EQ("\nCtrl-C\n", output.substr(output.size() - std::min<size_t>(8, output.size())));
      } else if (c.status != 0) {
        EXPECT_GE(r.run.Seconds(), 5.0);  // the final wait
      }
      CheckFilesAndLines(r);
      std::vector<std::string> m = LogMessages(output);
      ASSERT_GE(m.size(), 1u) << output;
      EXPECT_EQ(r.port + " opened", m[0]);
      c.check(r, m);
    });
  }
  for (std::thread& t : runs) t.join();
}

// Files the program cannot open: the log (its directory not writable, or a
// directory in its place), the data file and the settings file.
TEST(ProgramFaults, FilesThatCannotBeOpenedEndTheRunWithTheirErrorNumber) {
  std::string where = ScratchDirectory();
  bool root = geteuid() == 0;
  bool canDrop = !root || access("/usr/bin/setpriv", X_OK) == 0;
  struct Case {
    const char* name;
    int status;
  };
  const Case cases[] = {{"log-not-writable", 13},
                        {"log-directory", 21},
                        {"data-directory", 21},
                        {"settings-directory", 254}};
  std::vector<std::thread> runs;
  for (const Case& c : cases) {
    runs.emplace_back([&, c] {
      SCOPED_TRACE(c.name);
      std::string name = c.name;
      SimRun r;
      if (name == "log-not-writable" && !canDrop) {
        ADD_FAILURE() << "root without setpriv: no unprivileged run";
        return;
      }
      if (name == "settings-directory") {
        r.run.Prepare(where, name);
        ASSERT_EQ(0, mkdir((r.run.dir + "dcfsync.ini").c_str(), 0755));
      } else {
        r.Begin(where, name, {});
        if (r.port.empty()) return;
        r.run.Settings("port=" + r.port +
                       "\nTimerEnable=0\nWriteData=" + (name == "data-directory" ? "1\n" : "0\n"));
      }
      if (name == "log-directory" || name == "data-directory") {
        std::string in = r.run.dir + (name == "log-directory" ? "dcfsync.log" : "dcfsync.dat");
        ASSERT_EQ(0, mkdir(in.c_str(), 0755));
      }
      if (name == "log-not-writable") {
        // As root, permission bits bind only an unprivileged user: the run
        // takes one, and the module's line is opened up to it.
        if (root) {
          r.run.user = UnprivilegedId;
          ASSERT_EQ(0, chmod(r.port.c_str(), 0666));
        }
        ASSERT_EQ(0, chmod(r.run.dir.c_str(), 0555));
      }
      ASSERT_TRUE(r.run.Start());
      int status = r.run.Wait(30);
      chmod(r.run.dir.c_str(), 0755);
      EXPECT_EQ(c.status, status) << r.run.Output();
      // Standard error, a service's journal, names the failing file once.
      std::string journal;
      if (name == "data-directory") {
        journal = "dcfsync: data file " + r.run.dir + "dcfsync.dat: error 21\n";
      } else if (name != "settings-directory") {
        journal = "dcfsync: log file " + r.run.dir + "dcfsync.log: error " +
                  std::to_string(c.status) + "\n";
      }
      EXPECT_EQ(journal, r.run.Errors());
      std::string output = r.run.Output();
      std::vector<std::string> lines = SplitLines(output);
      ASSERT_GE(lines.size(), 2u) << output;
      EXPECT_EQ("Ctrl-C to exit", lines[0]);
      std::vector<std::string> m;  // the messages, in order
      if (c.status == 13 || name == "log-directory") {
        // Every line still reaches the console, each followed by the
        // failed open's error number, which becomes the run's status.
        std::string failed = "Cannot open logfile, error " + std::to_string(c.status);
        ASSERT_EQ(1u, lines.size() % 2) << output;
        for (size_t i = 1; i < lines.size(); i += 2) {
          m.push_back(Message(lines[i]));
          EXPECT_EQ(failed, lines[i + 1]) << "after " << lines[i];
        }
        struct stat st;
        if (c.status == 13) {
          EXPECT_NE(0, stat((r.run.dir + "dcfsync.log").c_str(), &st));
        }
      } else {
        m = LogMessages(output);
        EXPECT_EQ(m, LogMessages(r.run.Log()));  // the log works
      }
      std::string returned = "Return errno " + std::to_string(c.status);
      if (name == "settings-directory") {
        // Opened as a directory, read with an error: each of the 13 lookups
        // says so, the port name stays empty.
        std::string failed = "Read error 21 on " + r.run.dir + "dcfsync.ini";
        ASSERT_EQ(15u, m.size()) << output;
        for (int i = 0; i < 13; ++i) EXPECT_EQ(failed, m[i]);
        EXPECT_EQ(" not opened", m[13]);
        EXPECT_EQ(returned, m[14]);
        EXPECT_EQ(std::string::npos, output.find("Can't open file"));
        return;
      }
      // The whole poll is there all the same.
      ASSERT_EQ(8u, m.size()) << output;
      EXPECT_EQ(r.port + " opened", m[0]);
      EXPECT_EQ("DCFSIM 1.0<CR><LF>", m[1]);
      EXPECT_TRUE(Matches(m[2], DumpOf26)) << m[2];
      ExpectDecoded(m, 2, "1");
      EXPECT_EQ(r.port + " closed", m[6]);
      EXPECT_EQ(returned, m[7]);
      if (name == "data-directory") {
        // Right after the dump, when the telegram's data line is appended.
        std::string failed = "Cannot open file " + r.run.dir + "dcfsync.dat, error 21";
        EXPECT_EQ(1, Count(output, failed)) << output;
        EXPECT_NE(std::string::npos, output.find(m[2] + "\n" + failed + "\n")) << output;
      }
    });
  }
  for (std::thread& t : runs) t.join();
}

// Names that hold printf conversions are logged as they are: the port name
// from the settings, the program's own directory, and a port reached by such
// a name. Terminal controls in a name are shown as \xNN.
TEST(ProgramFaults, FormatCharactersInNamesAreLoggedLiterally) {
  std::string where = ScratchDirectory();
  std::vector<std::thread> runs;
  runs.emplace_back([&] {
    SCOPED_TRACE("port name");
    ProgramRun run;
    run.Prepare(where, "port");
    run.Settings("port=%n%s%x\nTimerEnable=1\n");
    ASSERT_TRUE(run.Start());
    EXPECT_EQ(254, run.Wait());
    EXPECT_EQ("", run.Errors());
    ExpectTranscript("not-opened", run.Output(), {{"PORT", "%n%s%x"}});
  });
  runs.emplace_back([&] {
    SCOPED_TRACE("port name with terminal controls");
    ProgramRun run;
    run.Prepare(where, "controls");
    run.Settings("port=/dev/\x1b]0;owned\x07\x9b" "2J\nTimerEnable=1\n");
    ASSERT_TRUE(run.Start());
    EXPECT_EQ(254, run.Wait());
    ExpectTranscript("not-opened", run.Output(), {{"PORT", "/dev/\\x1B]0;owned\\x07\\x9B2J"}});
    EXPECT_EQ(std::string::npos, run.Log().find('\x1b')) << run.Log();
  });
  runs.emplace_back([&] {
    SCOPED_TRACE("directory");
    ProgramRun run;
    run.Prepare(where, "dir%n%s%x%d");
    ASSERT_TRUE(run.Start());
    EXPECT_EQ(254, run.Wait());
    EXPECT_EQ("", run.Errors());
    std::vector<std::string> lines = SplitLines(run.Output());
    ASSERT_EQ(16u, lines.size()) << run.Output();
    for (int i = 1; i <= 13; ++i) {
      EXPECT_EQ("Can't open file " + where + "dir%n%s%x%d/dcfsync.ini", Message(lines[i]));
    }
    EXPECT_EQ(" not opened", Message(lines[14]));
    // The log lies in that directory too.
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), SplitLines(run.Log()));
  });
  runs.emplace_back([&] {
    SCOPED_TRACE("port link");
    // A short name: the port setting holds 29 characters.
    std::string link = "/tmp/%s%n%x." + std::to_string(getpid());
    SimRun r;
    r.Begin(where, "link", {"--link", link});
    if (r.port.empty()) return;
    ASSERT_EQ(link, r.port);
    r.run.Settings("port=" + link + "\nTimerEnable=0\n");
    ASSERT_TRUE(r.run.Start());
    EXPECT_EQ(0, r.run.Wait());
    EXPECT_EQ("", r.run.Errors());
    std::vector<std::string> m = LogMessages(r.run.Output());
    ASSERT_EQ(7u, m.size()) << r.run.Output();
    EXPECT_EQ(link + " opened", m[0]);
    EXPECT_EQ(link + " closed", m[6]);
    EXPECT_EQ(0, r.sim.Wait(SIGTERM));  // removes the link
  });
  for (std::thread& t : runs) t.join();
}

}  // namespace
