// Ctrl-C at random moments of a run of the program itself: during start-up,
// the identification exchange, the telegram exchange, the decoding and
// logging of the answer, the countdown and the final wait. Whatever it
// interrupts, the program ends with status 3 about a second later, the
// "Ctrl-C" line last on its console, the port released before it ends and
// its log only grown.
//
// DCFSYNC_SIGINT_RUNS and DCFSYNC_SIGINT_SEED set the number of runs (100)
// and the seed of the moments; the seed is printed. Several runs go on at
// once, each with its own simulator and directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/programrun.h"
#include "support/simulator.h"
#include "support/testutil.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

enum Phase {
  Startup,
  Identification,
  TelegramExchange,
  Decoding,
  Countdown,
  FinalWait,
  PhaseCount
};
const char* const PhaseNames[PhaseCount] = {"start-up",          "identification",
                                            "telegram exchange", "decoding/logging",
                                            "countdown",         "final wait"};

// The moment a run aims at: a line on the console (the anchor) and a random
// delay after it. The final wait comes after a poll with TimerEnable 0, or at
// once when the port cannot be opened.
enum Target {
  AtStart,
  AtIdent,
  AtTelegram,
  AtDecoding,
  AtCountdown,
  AtFinal,
  AtFinalNoPort,
  TargetCount
};
struct TargetRule {
  const char* anchor;  // console text; empty: the telegram dump itself
  double earliest, latest;
};
const TargetRule Rules[TargetCount] = {
    {"Ctrl-C to exit\n", 0.0, 0.9},      // opening, then the 1-second power-up
    {" opened\n", 1.05, 2.0},            // flush read of 1 s, command, answer
    {"DCFSIM 1.0<CR><LF>\n", 0.0, 1.0},  // the same for the telegram
    {"", 0.0, 0.0},                      // at once: the decoding takes microseconds
    {"Time diff", 0.0, 5.0},             // 59 seconds of countdown follow
    {" closed\n", 0.0, 3.5},             // the final wait is 5 s
    {"Return errno 254\n", 0.0, 3.5}};

struct Plan {
  int target;
  double delay;
  bool countdown;  // timer 1 with TimerEnable 1, else one poll
  bool decoded;    // TimerGetDecodedTime
  bool writeData;
};

struct Outcome {
  int phase = -1;
  double latency = -1;
  bool failed = false;
};

// The console file, read as it grows; remembers when " opened" first showed.
struct Console {
  std::string path, text;
  Clock::time_point opened;
  bool seenOpened = false;
  void Refresh() {
    text = ReadFile(path);
    if (!seenOpened && text.find(" opened\n") != std::string::npos) {
      seenOpened = true;
      opened = Clock::now();
    }
  }
  // Polls every 2 ms until text holds part; false after limit seconds.
  bool Await(const std::string& part, double limit) {
    for (Clock::time_point start = Clock::now(); Since(start) < limit; usleep(2000)) {
      Refresh();
      if (text.find(part) != std::string::npos) return true;
    }
    return false;
  }
  // Polls every 2 ms until the time comes.
  void Until(Clock::time_point when) {
    while (Clock::now() < when) {
      Refresh();
      usleep(2000);
    }
  }
};

// The phase the program was in, by its console at the moment it was held.
int Classify(const Console& console, bool countdown) {
  const std::string& out = console.text;
  auto has = [&out](const char* part) { return out.find(part) != std::string::npos; };
  if (has("Return errno") || has(" closed\n")) return FinalWait;
  if (has("secs left") || (countdown && has("Time diff"))) return Countdown;
  size_t ident = out.find("DCFSIM 1.0<CR><LF>\n");
  if (ident != std::string::npos && out.size() > ident + 19) return Decoding;
  if (ident != std::string::npos) return TelegramExchange;
  // The exchange begins once the power-up second after opening is over.
  if (console.seenOpened && Since(console.opened) >= 1.0) return Identification;
  return Startup;
}

std::string OldLog() {
  std::string old;
  for (int i = 0; i < 200; ++i) old += "earlier run, line " + std::to_string(i) + "\n";
  return old + "no line feed at the end";
}

// True when the line can be taken exclusively, as the program takes it.
bool PortFree(const std::string& port) {
  int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return free;
}

// Stops the program and waits until all its threads stand; false when it
// has ended instead.
bool Hold(ProgramRun& run) {
  kill(run.pid, SIGSTOP);
  int status = 0;
  if (waitpid(run.pid, &status, WUNTRACED) != run.pid) return false;
  if (WIFSTOPPED(status)) return true;
  run.pid = -1;  // ended, and reaped
  return false;
}

size_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (size_t)st.st_size : 0;
}

// One run: start, hold the program at the planned moment, note the phase,
// send SIGINT, let it go on and watch it end.
Outcome RunOnce(const std::string& where, int index, const Plan& plan) {
  Outcome outcome;
  const TargetRule& rule = Rules[plan.target];
  std::string name = "run " + std::to_string(index) + " (target " + std::to_string(plan.target) +
                     ", delay " + std::to_string(plan.delay) + " s)";
  // Every failed check of the run is reported and marks it failed.
  auto check = [&](bool ok, const std::string& what) {
    if (ok) return true;
    outcome.failed = true;
    ADD_FAILURE() << name
                  << (outcome.phase >= 0 ? std::string(" in ") + PhaseNames[outcome.phase] : "")
                  << ": " << what;
    return false;
  };

  ProgramRun run;
  run.Prepare(where, "run" + std::to_string(index));
  if (!check(FileExists(run.dir + "dcfsync"), "not prepared")) return outcome;
  Simulator sim;
  std::string port = "/nonexistent/dcf77";
  if (plan.target != AtFinalNoPort) {
    bool started = sim.Start(run.dir, {"--verbose"});
    port = started ? sim.Line() : "";
    if (!check(!port.empty(), "no simulator: " + ReadFile(run.dir + "stderr.txt"))) return outcome;
  }
  run.Settings("port=" + port + "\ntimer=1\nTimerEnable=" + (plan.countdown ? "1" : "0") +
               "\nTimerGetDecodedTime=" + (plan.decoded ? "1" : "0") +
               "\nWriteData=" + (plan.writeData ? "1" : "0") + "\n");
  std::string oldLog = OldLog();
  WriteFile(run.dir + "dcfsync.log", oldLog);
  if (!check(run.Start(), "not started")) return outcome;

  Console console;
  console.path = run.dir + "out.txt";
  // The handler is installed just before this line.
  if (!check(console.Await("Ctrl-C to exit\n", 20), "no start: " + console.text + run.Errors())) {
    return outcome;
  }
  bool held = false;
  if (plan.target == AtDecoding) {
    // The decoding takes microseconds, too few to be hit from outside: the
    // program is held once the telegram's answer is on its way, and then
    // let go in bursts of a few microseconds until its dump is out.
    std::string simLog = run.dir + "stderr.txt";
    const char* command = plan.decoded ? "command 04 00" : "command 03 00";
    Clock::time_point start = Clock::now();
    for (;; usleep(1000)) {
      std::string text = ReadFile(simLog);
      size_t at = text.find(command);
      if (at != std::string::npos && text.find("answer (", at) != std::string::npos) break;
      if (!check(Since(start) < 30, "no telegram answer: " + text)) return outcome;
    }
    held = Hold(run);
    if (!check(held, "ended before the signal\n" + console.text)) return outcome;
    console.Refresh();
    size_t before = console.text.size();
    usleep(150000);  // the read's 100 ms of silence run out meanwhile
    // On a processor of its own the program runs beside this thread when let
    // go, instead of before it, and the stop comes within microseconds.
    cpu_set_t mine, own, apart;
    bool pinned = false;
    if (sched_getaffinity(0, sizeof mine, &mine) == 0 && CPU_COUNT(&mine) >= 2) {
      CPU_ZERO(&own);
      CPU_ZERO(&apart);
      for (int cpu = 0, found = 0; cpu < CPU_SETSIZE && found < 2; ++cpu) {
        if (CPU_ISSET(cpu, &mine)) CPU_SET(cpu, found++ == 0 ? &own : &apart);
      }
      pinned = sched_setaffinity(0, sizeof own, &own) == 0 &&
               sched_setaffinity(run.pid, sizeof apart, &apart) == 0;
    }
    std::mt19937 bursts((unsigned)index);
    for (int n = 0; held && FileSize(console.path) == before && n < 100000; ++n) {
      kill(run.pid, SIGCONT);
      Clock::time_point burst = Clock::now();
      long length = std::uniform_int_distribution<long>(0, 8)(bursts);
      while (std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - burst).count() <
             length) {
      }
      held = Hold(run);
    }
    if (pinned) sched_setaffinity(0, sizeof mine, &mine);
    if (!check(held, "ended before the signal\n" + console.text)) return outcome;
  } else {
    if (!check(console.Await(rule.anchor, 30),
               std::string("never showed ") + rule.anchor + ":\n" + console.text)) {
      return outcome;
    }
    console.Until(Clock::now() + std::chrono::microseconds((long)(plan.delay * 1e6)));
  }

  // Held, the program's console tells the phase exactly; SIGINT is pending
  // when it goes on.
  if (!held && !check(Hold(run), "ended before the signal\n" + console.text)) return outcome;
  console.Refresh();
  outcome.phase = Classify(console, plan.countdown);
  kill(run.pid, SIGINT);
  Clock::time_point signalled = Clock::now();
  kill(run.pid, SIGCONT);

  // The handler writes "Ctrl-C", closes the port, waits a second and ends
  // the process: the port must be free before the process has ended.
  int status = 0;
  bool exited = false, freeWhileRunning = plan.target == AtFinalNoPort;
  while (!exited && Since(signalled) < 10) {
    bool free =
        !freeWhileRunning && console.text.find("\nCtrl-C\n") != std::string::npos && PortFree(port);
    exited = waitpid(run.pid, &status, WNOHANG) == run.pid;
    if (exited) {
      outcome.latency = Since(signalled);
      run.pid = -1;
    } else if (free) {
      freeWhileRunning = true;
    }
    console.Refresh();
    if (!exited) usleep(5000);
  }
  if (!check(exited, "hung after SIGINT\n" + console.text)) return outcome;
  if (!check(WIFEXITED(status), "killed by signal " + std::to_string(WTERMSIG(status)))) {
    return outcome;
  }
  const std::string& out = console.text;
  check(WEXITSTATUS(status) == 3,
        "exit status " + std::to_string(WEXITSTATUS(status)) + "\n" + out);
  check(outcome.latency <= 3.5, "ended " + std::to_string(outcome.latency) + " s after SIGINT");
  check(outcome.latency >= 0.9, "ended before the handler's second was over");
  check(out.size() >= 8 && out.substr(out.size() - 8) == "\nCtrl-C\n",
        "console does not end with the Ctrl-C line:\n" + out);
  check(Count(out, "\nCtrl-C\n") == 1, "Ctrl-C line not once:\n" + out);
  check(freeWhileRunning, "port " + port + " not free before the end");
  check(run.Errors().empty(), "standard error: " + run.Errors());
  std::string log = run.Log();
  check(log.compare(0, oldLog.size(), oldLog) == 0, "log truncated or overwritten");
  for (const std::string& line : SplitLines(log.substr(std::min(log.size(), oldLog.size())))) {
    check(HasTimestampPrefix(line), "log line: " + line);
  }
  return outcome;
}

int EnvironmentNumber(const char* name, int fallback) {
  const char* text = getenv(name);
  return text != nullptr && *text != '\0' ? atoi(text) : fallback;
}

TEST(ProgramInterrupt, CtrlCAtRandomMomentsEndsEveryRunWithStatus3) {
  const int runs = EnvironmentNumber("DCFSYNC_SIGINT_RUNS", 100);
  const unsigned seed = (unsigned)EnvironmentNumber("DCFSYNC_SIGINT_SEED", 20261208);
  printf("SIGINT at %d moments, seed %u (DCFSYNC_SIGINT_RUNS, DCFSYNC_SIGINT_SEED)\n", runs, seed);
  ASSERT_GT(runs, 0);

  std::mt19937 random(seed);
  std::vector<Plan> plans(runs);
  for (int i = 0; i < runs; ++i) {
    Plan& p = plans[i];
    p.target = i % TargetCount;
    const TargetRule& rule = Rules[p.target];
    p.delay = std::uniform_real_distribution<double>(rule.earliest, rule.latest)(random);
    p.countdown = p.target == AtCountdown ||
                  (p.target != AtFinal && std::bernoulli_distribution(0.5)(random));
    p.decoded = std::bernoulli_distribution(0.5)(random);
    p.writeData = std::bernoulli_distribution(0.5)(random);
  }

  std::string where = ScratchDirectory();
  std::vector<Outcome> outcomes(runs);
  std::atomic<int> next(0);
  std::vector<std::thread> workers;
  for (int w = 0; w < std::min(runs, 8); ++w) {
    workers.emplace_back([&] {
      for (int i = next++; i < runs; i = next++) {
        outcomes[i] = RunOnce(where, i, plans[i]);
        // A failed run's files stay for a look.
        std::error_code ignored;
        if (!outcomes[i].failed)
          std::filesystem::remove_all(where + "run" + std::to_string(i), ignored);
      }
    });
  }
  for (std::thread& t : workers) t.join();

  int count[PhaseCount] = {}, failures[PhaseCount] = {};
  double slowest[PhaseCount] = {}, slowestOfAll = 0;
  int unknown = 0;
  for (const Outcome& o : outcomes) {
    if (o.phase < 0) {
      ++unknown;
      continue;
    }
    ++count[o.phase];
    failures[o.phase] += o.failed ? 1 : 0;
    slowest[o.phase] = std::max(slowest[o.phase], o.latency);
    slowestOfAll = std::max(slowestOfAll, o.latency);
  }
  printf("%-20s %5s %9s %13s\n", "phase", "runs", "failures", "max latency");
  for (int p = 0; p < PhaseCount; ++p) {
    printf("%-20s %5d %9d %11.3f s\n", PhaseNames[p], count[p], failures[p], slowest[p]);
  }
  printf("%-20s %5d %9s %11.3f s\n", "all", runs - unknown, "", slowestOfAll);
  if (unknown > 0) printf("%d runs never got the signal\n", unknown);
  EXPECT_EQ(0, unknown);
  // Every phase got a few of the moments.
  const int least = runs >= 60 ? 3 : runs >= 2 * TargetCount ? 1 : 0;
  for (int p = 0; p < PhaseCount; ++p) EXPECT_GE(count[p], least) << PhaseNames[p];
}

// SIGTERM, SIGHUP and SIGQUIT end the run as Ctrl-C does: the Ctrl-C line
// last, the port free before the end, the slew ended with the learned
// frequency kept and written to the drift file, status 3. The PC clock is
// modelled by a preloaded library, 300 ms ahead, so the discipline runs.
TEST(ProgramInterrupt, EverySignalThatEndsARunEndsItLikeCtrlC) {
  const struct {
    int signal;
    const char* name;
  } cases[] = {{SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}, {SIGQUIT, "SIGQUIT"}, {SIGINT, "SIGINT"}};
  std::string where = ScratchDirectory();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramRun run;
    run.Prepare(where, std::string("signal-") + c.name);
    Simulator sim;
    ASSERT_TRUE(sim.Start(run.dir, {}));
    std::string port = sim.Line();
    run.Settings("port=" + port + "\ntimer=0\nTimerEnable=1\nValidDateTimeCount=1\nDCFSetTime=1\n"
                 "ClockDiscipline=1\n");
    WriteFile(run.dir + "dcfsync.drift", "+31.250\n");
    std::string record = run.dir + "model.txt";
    const char* asan = getenv("ASAN_OPTIONS");
    ASSERT_TRUE(run.Start({"LD_PRELOAD=" DCFSYNC_DRIFTCLOCK, "DCFSYNC_MODEL_RECORD=" + record,
                           "DCFSYNC_CLOCK_SHIFT_MS=300",
                           std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"}));
    Console console;
    console.path = run.dir + "out.txt";
    // Stepped once (300 ms), then the telegrams are the loop's.
    ASSERT_TRUE(console.Await("Synchronizing time to", 30)) << console.text;
    ASSERT_TRUE(console.Await("Time diff", 5)) << console.text;
    Clock::time_point signalled = Clock::now();
    int status = run.Stop(c.signal, 10);
    double latency = Since(signalled);
    console.Refresh();
    EXPECT_EQ(3, status) << console.text;
    EXPECT_LT(latency, 3.5);
    EXPECT_GE(latency, 0.9);
    const std::string& out = console.text;
    EXPECT_TRUE(out.size() >= 8 && out.substr(out.size() - 8) == "\nCtrl-C\n") << out;
    EXPECT_TRUE(PortFree(port));
    EXPECT_EQ("", run.Errors());
    // The last adjustment ends the slew; the frequency stays and is saved.
    std::vector<std::string> lines = SplitLines(ReadFile(record));
    ASSERT_FALSE(lines.empty());
    unsigned modes = 0;
    long long at = 0;
    double offset = 0, frequency = 0, slew = -1;
    ASSERT_EQ(5, sscanf(lines.back().c_str(), "%u %lld %lf %lf %lf", &modes, &at, &offset,
                        &frequency, &slew));
    EXPECT_EQ(0.0, slew) << lines.back();
    EXPECT_NEAR(31.25, frequency, 0.001);
    EXPECT_EQ("+31.250\n", ReadFile(run.dir + "dcfsync.drift"));
  }
}

}  // namespace
