// The program as a reference clock of the real chronyd: both feeds, its
// SOCK socket and NTP shared memory, configured in one chronyd, and the
// program polling the simulator without pause. chronyd runs with -x (it
// never touches the clock), without the privilege to set the clock, in a
// private directory of mode 0700 that holds its sockets and pid file, and is
// stopped by its pid when the test ends, passed or failed. The feed's own
// start-up and failure lines are checked by runs without a daemon.
//
// Skipped, and saying so, only when chronyd is not installed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "support/ntpshm.h"
#include "support/socketdir.h"
#include "support/programrun.h"
#include "support/simulator.h"
#include "support/testutil.h"

namespace {

// chronyd as configured, or where Debian's package puts it; "" when missing.
std::string ChronydPath() {
  const char* candidates[] = {DCF_CHRONYD_PATH, "/usr/sbin/chronyd", "/sbin/chronyd"};
  for (const char* c : candidates) {
    if (c[0] != '\0' && access(c, X_OK) == 0) return c;
  }
  return "";
}

std::string ChronycPath() {
  const char* candidates[] = {DCF_CHRONYC_PATH, "/usr/bin/chronyc", "/bin/chronyc"};
  for (const char* c : candidates) {
    if (c[0] != '\0' && access(c, X_OK) == 0) return c;
  }
  return "";
}

// One chronyd of the test's own. Never without -x.
struct Chronyd {
  pid_t pid = -1;
  std::string dir;  // private: the configuration, sockets, pid file, output

  bool Start(const std::string& program, const std::string& privateDir,
             const std::string& configuration) {
    dir = privateDir;
    WriteFile(dir + "chrony.conf", configuration);
    std::vector<std::string> args;
    if (access("/usr/bin/setpriv", X_OK) == 0) {
      args = {"/usr/bin/setpriv", "--inh-caps=-sys_time", "--bounding-set=-sys_time"};
    }
    // -x: the clock is never touched; -d: in the foreground, logging to
    // standard error; -u: the user it runs as (as root, it stays root).
    args.insert(args.end(), {program, "-x", "-d", "-f", dir + "chrony.conf"});
    if (geteuid() == 0) {
      args.insert(args.end(), {"-u", "root"});
    } else {
      const passwd* me = getpwuid(geteuid());
      if (me == nullptr) return false;
      args.insert(args.end(), {"-U", "-u", me->pw_name});
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (dir + "chronyd.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::unique_lock<std::mutex> hold(SpawnLock());
    int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    hold.unlock();
    posix_spawn_file_actions_destroy(&actions);
    if (failed) pid = -1;
    return failed == 0;
  }
  // Exit status once ended (128 + signal), -1 while running.
  int Ended() {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, WNOHANG) != pid) return -1;
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  // Stops this chronyd by its pid: SIGTERM, and SIGKILL after 10 s.
  void Stop() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 500 && Ended() < 0; ++i) usleep(20000);
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      pid = -1;
    }
  }
  std::string Output() const { return ReadFile(dir + "chronyd.txt"); }
  ~Chronyd() { Stop(); }
};

// One source of "chronyc -c sources": reach register and last measured
// offset (seconds, positive: the local clock ahead of the source).
struct Source {
  bool seen = false;
  int reach = 0;
  double offset = 0;
};

Source QuerySource(const std::string& chronyc, const std::string& socket, const std::string& refid) {
  Source source;
  std::string command = chronyc + " -h " + socket + " -n -c sources 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return source;
  char line[512];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    // mode,state,name,stratum,poll,reach,lastRx,offset,measured offset,error
    std::vector<std::string> fields;
    std::string text = line;
    for (size_t from = 0;;) {
      size_t comma = text.find(',', from);
      fields.push_back(text.substr(from, comma == std::string::npos ? comma : comma - from));
      if (comma == std::string::npos) break;
      from = comma + 1;
    }
    if (fields.size() < 10 || fields[2] != refid) continue;
    source.seen = true;
    source.reach = (int)strtol(fields[5].c_str(), nullptr, 8);
    source.offset = strtod(fields[8].c_str(), nullptr);
  }
  pclose(pipe);
  return source;
}

// The PC's lead over true time for every fed telegram, from what the
// program logged: "Time diff: -0d 00:00:00.110" says the PC was 0.110 s
// ahead (as chronyd reports it), in any zone of the PC.
std::vector<double> LoggedLeads(const std::string& log) {
  std::vector<double> all;
  for (const std::string& line : SplitLines(log)) {
    size_t at = line.find("Time diff: ");
    if (at == std::string::npos) continue;
    const char* text = line.c_str() + at + 11;
    bool ahead = *text == '-';
    if (ahead) ++text;
    int days = 0, hours = 0, minutes = 0, seconds = 0, millis = 0;
    if (sscanf(text, "%dd %d:%d:%d.%d", &days, &hours, &minutes, &seconds, &millis) != 5) continue;
    double value = (((days * 24.0 + hours) * 60 + minutes) * 60 + seconds) + millis / 1000.0;
    all.push_back(ahead ? value : -value);
  }
  return all;
}

class ChronyFeed : public testing::Test {
 protected:
  Simulator sim;
  ProgramRun run;
  std::string port;
  int unit = -1;
  std::string privateDir;  // chronyd's, removed once it has been stopped
  void StartSimulator() {
    std::string where = SimDirectory();
    run.Prepare(where);
    ASSERT_TRUE(sim.Start(where, {}));
    port = sim.Line();
    ASSERT_FALSE(port.empty()) << ReadFile(where + "stderr.txt");
  }
  void TearDown() override {
    RemoveShmUnit(unit);
    std::error_code ignored;
    if (!privateDir.empty()) std::filesystem::remove_all(privateDir, ignored);
  }
};

TEST_F(ChronyFeed, ChronydTakesBothFeedsAsReachableSourcesWithTheProgramsOffset) {
  const std::string chronyd = ChronydPath();
  const std::string chronyc = ChronycPath();
  if (chronyd.empty() || chronyc.empty()) {
    GTEST_SKIP() << "chronyd or chronyc is not installed (Debian package chrony): the feed "
                    "is not tried against the real daemon";
  }
  StartSimulator();
  privateDir = SocketDirectory();  // its sockets' paths must fit
  ASSERT_FALSE(privateDir.empty());
  ASSERT_EQ(0, chmod(privateDir.c_str(), 0700));
  unit = FreeShmUnit();
  ASSERT_GE(unit, 2) << "no free shared-memory unit";

  // No server, no NTP or command port, no drift file: two reference clocks,
  // polled every second, taken one sample a poll, never selected, so each
  // shows the offset as measured.
  const std::string sock = privateDir + "dcf.sock";
  const std::string command = privateDir + "chronyc.sock";
  const std::string conf =
      "refclock SOCK " + sock + " refid DCFS poll 0 filter 1 noselect\n" +
      "refclock SHM " + std::to_string(unit) + " refid DCFM poll 0 filter 1 noselect\n" +
      "bindcmdaddress " + command + "\ncmdport 0\nport 0\npidfile " + privateDir +
      "chronyd.pid\n";
  Chronyd daemon;
  ASSERT_TRUE(daemon.Start(chronyd, privateDir, conf));
  for (int i = 0; i < 250 && !(FileExists(sock) && FileExists(command)); ++i) usleep(20000);
  ASSERT_TRUE(FileExists(sock)) << daemon.Output();
  ASSERT_TRUE(FileExists(command)) << daemon.Output();
  ASSERT_EQ(-1, daemon.Ended()) << daemon.Output();
  EXPECT_EQ(std::to_string(daemon.pid) + "\n", ReadFile(privateDir + "chronyd.pid"));

  // On a server kept in UTC: neither the program's own difference nor the
  // feed depends on the PC's zone.
  run.Settings("port=" + port + "\ntimer=0\nTimerEnable=1\nValidDateTimeCount=1\n" +
               "ChronySocket=" + sock + "\nNtpShmUnit=" + std::to_string(unit) + "\n");
  ASSERT_TRUE(run.Start({"TZ=UTC0"}));

  // Both sources reachable in three polls of chronyd's.
  Source s, m;
  for (int i = 0; i < 120; ++i) {
    s = QuerySource(chronyc, command, "DCFS");
    m = QuerySource(chronyc, command, "DCFM");
    auto reached = [](int reach) { return __builtin_popcount((unsigned)reach) >= 3; };
    if (reached(s.reach) && reached(m.reach)) break;
    usleep(500000);
  }
  kill(run.pid, SIGINT);
  EXPECT_EQ(3, run.Wait());
  std::string log = run.Log();
  std::string chronydOutput = daemon.Output();
  daemon.Stop();
  EXPECT_EQ(-1, daemon.pid);

  printf("chronyd: DCFS reach %o offset %+.6f s, DCFM reach %o offset %+.6f s\n", s.reach,
         s.offset, m.reach, m.offset);
  ASSERT_TRUE(s.seen && m.seen) << chronydOutput;
  EXPECT_GE(__builtin_popcount((unsigned)s.reach), 3) << chronydOutput << log;
  EXPECT_GE(__builtin_popcount((unsigned)m.reach), 3) << chronydOutput << log;
  // The capture is taken at the answer, so the PC and the simulator agree
  // within a few milliseconds (the module's cut hundredths); 50 ms leaves
  // room for a loaded machine.
  EXPECT_LT(std::abs(s.offset), 0.05);
  EXPECT_LT(std::abs(m.offset), 0.05);
  // chronyd saw what the program logged: its offset is one of the logged
  // differences (to the millisecond both carry), and these are the PC's
  // real error, a few milliseconds, in UTC as well.
  std::vector<double> logged = LoggedLeads(log);
  ASSERT_FALSE(logged.empty()) << log;
  double low = *std::min_element(logged.begin(), logged.end());
  double high = *std::max_element(logged.begin(), logged.end());
  printf("program: %zu telegrams fed, PC ahead by %+.3f to %+.3f s\n", logged.size(), low,
         high);
  EXPECT_LT(std::max(std::abs(low), std::abs(high)), 0.05) << log;
  EXPECT_GE(s.offset, low - 0.002);
  EXPECT_LE(s.offset, high + 0.002);
  EXPECT_GE(m.offset, low - 0.002);
  EXPECT_LE(m.offset, high + 0.002);
  // Every datagram and every segment write was taken as it was meant.
  EXPECT_EQ(std::string::npos, chronydOutput.find("Unexpected")) << chronydOutput;
  EXPECT_EQ(std::string::npos, chronydOutput.find("Fatal")) << chronydOutput;
  EXPECT_EQ(std::string::npos, log.find("chrony socket")) << log;
  EXPECT_EQ(std::string::npos, log.find("NTP shared memory")) << log;
}

TEST_F(ChronyFeed, SettingsTheFeedRefusesAreLoggedOnceAtStartUp) {
  StartSimulator();
  const std::string tooLong = "/run/" + std::string(103, 'x');  // 108 characters
  run.Settings("port=" + port + "\nTimerEnable=0\nValidDateTimeCount=1\nChronySocket=" + tooLong +
               "\nNtpShmUnit=256\n");
  ASSERT_TRUE(run.Start());
  EXPECT_EQ(0, run.Wait());
  std::vector<std::string> lines = SplitLines(run.Output());
  ASSERT_EQ(10u, lines.size()) << run.Output();
  EXPECT_EQ("Ctrl-C to exit", lines[0]);
  EXPECT_EQ("ChronySocket too long (108 characters, at most 107), feed off: " + tooLong,
            Message(lines[1]));
  EXPECT_EQ("NtpShmUnit 256 out of range 0..255, feed off", Message(lines[2]));
  EXPECT_EQ(port + " opened", Message(lines[3]));
  EXPECT_TRUE(Matches(Message(lines[8]), "Time diff: .* ContValidTime: 1")) << lines[8];
  EXPECT_EQ(port + " closed", Message(lines[9]));
}

TEST_F(ChronyFeed, MissingDaemonIsLoggedOnceOverManyPolls) {
  StartSimulator();
  privateDir = SocketDirectory();  // removed at the end, like chronyd's
  ASSERT_FALSE(privateDir.empty());
  const std::string sock = privateDir + "no-chronyd.sock";
  run.Settings("port=" + port + "\ntimer=0\nTimerEnable=1\nValidDateTimeCount=1\nChronySocket=" +
               sock + "\n");
  ASSERT_TRUE(run.Start());
  ASSERT_TRUE(run.AwaitText("dcfsync.log", "Time diff", 4, 60)) << run.Output();
  kill(run.pid, SIGINT);
  EXPECT_EQ(3, run.Wait());
  std::vector<std::string> log = SplitLines(run.Log());
  std::vector<std::string> messages;
  for (const std::string& line : log) messages.push_back(Message(line));
  auto failed = std::find(messages.begin(), messages.end(), "chrony socket " + sock + ": nobody reading (error 2)");
  ASSERT_NE(messages.end(), failed) << run.Log();
  // Right after the first fed telegram's difference, and never again.
  ASSERT_NE(messages.begin(), failed);
  EXPECT_TRUE(Matches(*(failed - 1), "Time diff: .* ContValidTime: 1")) << *(failed - 1);
  EXPECT_EQ(1, Count(run.Log(), "chrony socket"));
  EXPECT_EQ(0, Count(run.Output(), "works again"));
}

}  // namespace
