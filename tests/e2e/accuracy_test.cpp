// How right the program sets the clock: the program itself against the
// simulator, whose time is the truth (its wall clock plus its --offset). The
// program's own wall clock is shifted by a preloaded library (clockshift) to
// a known error, also into the changes of daylight-saving time, its time
// zone is set by TZ (German time unless a scenario names another), and its
// clock_settime goes to the recording stub, which notes the instant asked
// for and the machine's real time at the call. The error of a set is
//   requested - (real time at the call + the simulator's offset).
//
// Bounds are generous (the machine is shared): bench/accuracy measures the
// figures themselves. The runs of a test go on at the same time.
#include <gtest/gtest.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/programrun.h"
#include "support/simulator.h"
#include "support/testutil.h"

namespace {

const int64_t SpringChange = 1774746000;  // 2026-03-29 01:00 UTC: 02:00 CET becomes 03:00 CEST
const int64_t AutumnChange = 1792890000;  // 2026-10-25 01:00 UTC: 03:00 CEST becomes 02:00 CET

// Generous bounds for a loaded machine: a set error, and their mean.
const double WorstSetMs = 40.0;
const double MeanSetMs = 8.0;

int64_t RealMs() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// A "Time diff" line as a signed difference in ms (positive: PC ahead).
bool ParseDifference(const std::string& message, double* ms) {
  const char prefix[] = "Time diff: ";
  if (message.rfind(prefix, 0) != 0) return false;
  const char* text = message.c_str() + sizeof prefix - 1;
  bool ahead = *text == '-';  // "-": the PC was ahead
  int days = 0, h = 0, m = 0, s = 0, milli = 0;
  if (sscanf(text + (ahead ? 1 : 0), "%dd %d:%d:%d.%d", &days, &h, &m, &s, &milli) != 5) {
    return false;
  }
  double a = (((days * 24.0 + h) * 60 + m) * 60 + s) * 1000 + milli;
  *ms = ahead ? a : -a;
  return true;
}

struct Telegram {
  double differenceMs;
  bool set;      // a "Synchronizing time to" line followed
  bool refused;  // the repeated hour's line followed
};

struct Scenario {
  const char* name;
  int64_t truthAtStartMs;  // the simulator's time when the run starts; 0: the real time
  int64_t pcAheadMs;       // the program's clock against the truth
  bool decoded;
  bool setClock;
  int telegrams;           // polls to wait for
  const char* zone = nullptr;   // the PC's TZ; German time when null
  const char* fault = nullptr;  // the simulator's --fault
};

struct Outcome {
  std::vector<Telegram> telegrams;
  std::vector<double> setErrors;  // ms, one per recorded set
  std::string log;
};

// Runs the program polling without pause until it has evaluated
// scenario.telegrams telegrams, then presses Ctrl-C.
void RunScenario(const std::string& where, const Scenario& c, Outcome* out) {
  SCOPED_TRACE(c.name);
  Simulator sim;
  ProgramRun run;
  run.Prepare(where, c.name);
  int64_t offsetMs = c.truthAtStartMs == 0 ? 0 : c.truthAtStartMs - RealMs();
  char offset[32];
  snprintf(offset, sizeof offset, "%.3f", (double)offsetMs / 1000.0);
  std::vector<std::string> simArgs = {"--offset", offset};
  if (c.fault != nullptr) simArgs.insert(simArgs.end(), {"--fault", c.fault});
  ASSERT_TRUE(sim.Start(run.dir, simArgs));  // takes the spawn lock itself
  std::string port = sim.Line();
  ASSERT_FALSE(port.empty()) << ReadFile(run.dir + "stderr.txt");
  run.Settings("port=" + port + "\ntimer=0\nTimerEnable=1\nValidDateTimeCount=1\n" +
               "DCFSetTime=" + (c.setClock ? "1" : "0") + "\nTimerGetDecodedTime=" +
               (c.decoded ? "1" : "0") + "\n");
  std::string record = run.dir + "settime.txt";
  std::vector<std::string> extra = {
      "LD_PRELOAD=" DCFSYNC_CLOCKSHIFT ":" DCFSYNC_SETTIME_STUB,
      "DCFSYNC_SETTIME_RECORD=" + record,
      "DCFSYNC_CLOCK_SHIFT_MS=" + std::to_string(offsetMs + c.pcAheadMs)};
  if (c.zone != nullptr) extra.push_back(std::string("TZ=") + c.zone);
  const char* asan = getenv("ASAN_OPTIONS");
  extra.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0");
  ASSERT_TRUE(run.Start(extra));
  bool polled = run.AwaitText("out.txt", "Time diff", c.telegrams, 20 + 2.0 * c.telegrams);
  // Ctrl-C in the next poll's flush read, a second long: after the set.
  usleep(300000);
  kill(run.pid, SIGINT);
  EXPECT_EQ(3, run.Wait(40 + 2.0 * c.telegrams));
  ASSERT_TRUE(polled) << run.Output();
  EXPECT_EQ("", run.Errors());

  out->log = run.Log();
  std::vector<std::string> lines = SplitLines(out->log);
  for (size_t i = 0; i < lines.size(); ++i) {
    double difference = 0;
    if (!ParseDifference(Message(lines[i]), &difference)) continue;
    std::string next = i + 1 < lines.size() ? Message(lines[i + 1]) : "";
    out->telegrams.push_back({difference, next.rfind("Synchronizing time to ", 0) == 0,
                              next == "Repeated hour without time zone, can't synchronize time..."});
  }
  for (const std::string& line : SplitLines(ReadFile(record))) {
    int clock = -1;
    long long seconds = 0, realSeconds = 0;
    long ns = 0, realNs = 0;
    ASSERT_EQ(5, sscanf(line.c_str(), "%d %lld %ld %lld %ld", &clock, &seconds, &ns,
                        &realSeconds, &realNs))
        << line;
    EXPECT_EQ(CLOCK_REALTIME, clock);
    double requested = (double)seconds * 1000.0 + (double)ns / 1e6;
    double truth = (double)realSeconds * 1000.0 + (double)realNs / 1e6 + (double)offsetMs;
    out->setErrors.push_back(requested - truth);
  }
  EXPECT_EQ(std::string::npos, out->log.find("Can't set time")) << out->log;
}

void RunAll(const std::vector<Scenario>& cases, std::vector<Outcome>* outcomes) {
  std::string where = ScratchDirectory();
  outcomes->assign(cases.size(), Outcome());
  std::vector<std::thread> runs;
  for (size_t i = 0; i < cases.size(); ++i) {
    runs.emplace_back([&, i] { RunScenario(where, cases[i], &(*outcomes)[i]); });
  }
  for (std::thread& t : runs) t.join();
}

std::string Figures(const std::vector<double>& errors) {
  double sum = 0, worst = 0;
  for (double e : errors) {
    sum += e;
    worst = fabs(e) > fabs(worst) ? e : worst;
  }
  char text[96];
  snprintf(text, sizeof text, "%zu sets, mean %+.2f ms, worst %+.2f ms", errors.size(),
           errors.empty() ? 0.0 : sum / (double)errors.size(), worst);
  return text;
}

// Every set within the bounds, and one set for each telegram that asked for it.
void ExpectSetsWithinBounds(const Scenario& c, const Outcome& o) {
  SCOPED_TRACE(c.name);
  size_t announced = 0;
  for (const Telegram& t : o.telegrams) announced += t.set ? 1 : 0;
  EXPECT_EQ(announced, o.setErrors.size()) << o.log;
  double sum = 0;
  for (double e : o.setErrors) {
    EXPECT_LE(fabs(e), WorstSetMs) << o.log;
    sum += e;
  }
  if (!o.setErrors.empty()) {
    EXPECT_LE(fabs(sum / (double)o.setErrors.size()), MeanSetMs);
  }
  printf("[accuracy] %-14s %s\n", c.name, Figures(o.setErrors).c_str());
}

TEST(ProgramAccuracy, ACorrectClockReadsNoDifferenceAndOneBehindIsSetRight) {
  const std::vector<Scenario> cases = {
      {"correct-raw", 0, 0, false, true, 6},
      {"correct-decoded", 0, 0, true, true, 6},
      {"behind-raw", 0, -3700, false, true, 6},
      {"behind-decoded", 0, -3700, true, true, 6},
  };
  std::vector<Outcome> outcomes;
  RunAll(cases, &outcomes);
  for (size_t i = 0; i < cases.size(); ++i) {
    const Scenario& c = cases[i];
    const Outcome& o = outcomes[i];
    SCOPED_TRACE(c.name);
    ASSERT_GE(o.telegrams.size(), (size_t)c.telegrams) << o.log;
    double sum = 0;
    for (const Telegram& t : o.telegrams) {
      // The difference shown is the clock's own error, nothing of the exchange.
      EXPECT_NEAR(t.differenceMs, (double)c.pcAheadMs, WorstSetMs) << o.log;
      sum += t.differenceMs - (double)c.pcAheadMs;
      // A right clock is left alone (SynchronizeDiff 100); one 3.7 s behind is set.
      EXPECT_EQ(t.set, c.pcAheadMs != 0) << o.log;
    }
    double mean = sum / (double)o.telegrams.size();
    EXPECT_LE(fabs(mean), MeanSetMs);
    printf("[accuracy] %-14s Time diff less the clock's error: mean %+.2f ms\n", c.name, mean);
    ExpectSetsWithinBounds(c, o);
  }
}

// Every telegram shows the clock's own error and sets it (or, with refused,
// gives the repeated hour's line instead); every set within the bounds.
void ExpectEverySetRight(const std::vector<Scenario>& cases, const std::vector<Outcome>& outcomes,
                         bool refused = false) {
  for (size_t i = 0; i < cases.size(); ++i) {
    const Scenario& c = cases[i];
    const Outcome& o = outcomes[i];
    SCOPED_TRACE(c.name);
    ASSERT_GE(o.telegrams.size(), (size_t)c.telegrams) << o.log;
    for (const Telegram& t : o.telegrams) {
      EXPECT_NEAR(t.differenceMs, (double)c.pcAheadMs, WorstSetMs) << o.log;
      EXPECT_EQ(t.set, !refused) << o.log;
      EXPECT_EQ(t.refused, refused) << o.log;
    }
    ExpectSetsWithinBounds(c, o);
  }
}

const int64_t Winter = 1768478400;  // 2026-01-15 12:00 UTC
const int64_t Summer = 1784116800;  // 2026-07-15 12:00 UTC

TEST(ProgramAccuracy, EveryPcZoneSetsToTrueUtcInWinterAndSummer) {
  const char* zones[][2] = {{"UTC", "utc"},           {"Europe/London", "london"},
                            {"America/New_York", "newyork"}, {"Asia/Tokyo", "tokyo"},
                            {"Europe/Berlin", "berlin"}};
  std::vector<Scenario> cases;
  static std::string names[10];
  for (int z = 0; z < 5; ++z) {
    for (int season = 0; season < 2; ++season) {
      names[z * 2 + season] = std::string(zones[z][1]) + (season ? "-summer" : "-winter");
      Scenario c = {names[z * 2 + season].c_str(), (season ? Summer : Winter) * 1000, -3700,
                    (z + season) % 2 == 1, true, 4};
      c.zone = zones[z][0];
      cases.push_back(c);
    }
  }
  std::vector<Outcome> outcomes;
  RunAll(cases, &outcomes);
  ExpectEverySetRight(cases, outcomes);
}

TEST(ProgramAccuracy, AcrossTheChangesOfDaylightSavingTimeInGermanTimeAndInUtc) {
  std::vector<Scenario> cases = {
      // 02:20 CEST, the first pass of the repeated hour, and 02:20 CET, the second.
      {"autumn-first", (AutumnChange - 2400) * 1000, -3700, false, true, 4},
      {"autumn-second", (AutumnChange + 1200) * 1000, -3700, true, true, 4},
      // Across each change: for a few seconds telegram and PC are in
      // different zones, which changes nothing.
      {"autumn-across", (AutumnChange - 5) * 1000, -3700, false, true, 8},
      {"spring-across", (SpringChange - 5) * 1000, -3700, true, true, 8},
      {"spring-ahead", (SpringChange - 8) * 1000, 3700, false, true, 8},
  };
  for (size_t i = 0, n = cases.size(); i < n; ++i) {
    Scenario utc = cases[i];
    static std::string names[5];
    names[i] = std::string(cases[i].name) + "-utc";
    utc.name = names[i].c_str();
    utc.zone = "UTC";
    cases.push_back(utc);
  }
  std::vector<Outcome> outcomes;
  RunAll(cases, &outcomes);
  ExpectEverySetRight(cases, outcomes);
}

TEST(ProgramAccuracy, DecodedTimeWithoutZoneBitsSetsRightButNotInTheRepeatedHour) {
  std::vector<Scenario> cases = {
      {"nozone-winter", Winter * 1000, -3700, true, true, 4, "UTC", "no-zone"},
      {"nozone-summer", Summer * 1000, -3700, true, true, 4, "Europe/Berlin", "no-zone"},
  };
  std::vector<Outcome> outcomes;
  RunAll(cases, &outcomes);
  ExpectEverySetRight(cases, outcomes);

  // Both passes of 02:20-02:25 on the autumn change day: the difference is
  // the nearer pass's, and nothing is set.
  cases = {
      {"nozone-first", (AutumnChange - 2400) * 1000, -3700, true, true, 4, "UTC", "no-zone"},
      {"nozone-second", (AutumnChange + 1200) * 1000, -3700, true, true, 4, nullptr, "no-zone"},
  };
  RunAll(cases, &outcomes);
  ExpectEverySetRight(cases, outcomes, true);
}

}  // namespace
