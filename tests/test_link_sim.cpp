// The link and the decoders against the receiver simulator: the polls of a
// run, from powering the module to a clock setting (through the recording
// stand-in), and what the simulator's faults look like from this side.
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "clock/evaluate.h"
#include "decode/decode.h"
#include "driver/settings.h"
#include "link/exchange.h"
#include "link/port.h"
#include "support/fake_clockset.h"
#include "support/testutil.h"

extern char** environ;

namespace {

// A running simulator; its port's path is read from its first output line.
struct Simulator {
  pid_t pid = -1;
  std::string port;
};

Simulator StartSimulator(std::vector<std::string> options) {
  Simulator sim;
  int out[2];
  if (pipe(out) != 0) return sim;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::vector<std::string> args = {DCFSIM_PATH};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  if (posix_spawn(&sim.pid, DCFSIM_PATH, &actions, nullptr, argv.data(), environ) != 0) {
    sim.pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') sim.port += c;
  close(out[0]);
  return sim;
}

void StopSimulator(Simulator& sim) {
  if (sim.pid <= 0) return;
  kill(sim.pid, SIGTERM);
  int status = 0;
  waitpid(sim.pid, &status, 0);
  sim.pid = -1;
}

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

class LinkSimulatorTest : public testing::Test {
 protected:
  void SetUp() override {
    // The simulator sends German legal time; the PC here keeps the same zone.
    const char* tz = getenv("TZ");
    savedTz_ = tz ? tz : "";
    hadTz_ = tz != nullptr;
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    ResetProgramState();
  }
  void TearDown() override {
    ClosePort();
    StopSimulator(sim_);
    if (hadTz_) {
      setenv("TZ", savedTz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  // Starts the simulator and opens, configures and powers its port.
  void Connect(std::vector<std::string> options) {
    sim_ = StartSimulator(options);
    ASSERT_GT(sim_.pid, 0);
    ASSERT_FALSE(sim_.port.empty());
    ASSERT_LT(sim_.port.size(), (size_t)PortNameSize);
    snprintf(PortName, PortNameSize, "%s", sim_.port.c_str());
    ASSERT_NE(OpenPort(), InvalidPortHandle) << PortName;
    ASSERT_EQ(ConfigurePort(Settings.baud, 8, NoParity, OneStopBit), 1);
    SetRts(1);
    SetDtr(1);
  }

  int Exchange(const unsigned char* command, int expected) {
    memcpy(AnswerBuffer, command, 2);
    return ExchangeCommand(AnswerBuffer, AnswerTimeLimit, expected);
  }

  Simulator sim_;
  std::string savedTz_;
  bool hadTz_ = false;
};

TEST_F(LinkSimulatorTest, PollsOfARunSetTheClockByTheOffset) {
  Settings.DCFSetTime = 1;
  Settings.ValidDateTimeCount = 1;
  Connect({"--offset", "30"});

  ASSERT_EQ(Exchange(IdentCommand, IdentFrameSize), IdentFrameSize);
  DumpFrame(AnswerBuffer, IdentFrameSize, DumpText);

  ASSERT_EQ(Exchange(RawTelegramCommand, RawTelegramFrameSize), RawTelegramFrameSize);
  DumpFrame(AnswerBuffer, RawTelegramFrameSize, DumpHex);
  time_t before = time(nullptr);
  DecodeRawTelegramFrame(AnswerBuffer);
  ASSERT_EQ(FakeClock.calls, 1);
  struct tm set;
  memset(&set, 0, sizeof set);
  set.tm_year = FakeClock.last.wYear - 1900;
  set.tm_mon = FakeClock.last.wMonth - 1;
  set.tm_mday = FakeClock.last.wDay;
  set.tm_hour = FakeClock.last.wHour;
  set.tm_min = FakeClock.last.wMinute;
  set.tm_sec = FakeClock.last.wSecond;
  set.tm_isdst = -1;
  double ahead = difftime(mktime(&set), before);
  EXPECT_GE(ahead, 28.0);
  EXPECT_LE(ahead, 33.0);

  ASSERT_EQ(Exchange(DecodedTimeCommand, DecodedTimeFrameSize), DecodedTimeFrameSize);
  DecodeDecodedTimeFrame(AnswerBuffer);

  std::vector<std::string> logged = LoggedMessages();
  ASSERT_GE(logged.size(), 2u);
  EXPECT_FALSE(logged[0].empty());    // the identification as text
  EXPECT_EQ(logged[1].size(), 78u);  // 26 bytes as hexadecimal pairs
  EXPECT_FALSE(Contains(logged, "Bad"));
  EXPECT_TRUE(Contains(logged, "Synchronizing time to"));
  EXPECT_TRUE(Contains(logged, "Z1:") && Contains(logged, "S:1"));
}

TEST_F(LinkSimulatorTest, FaultsSeenFromThisSide) {
  Connect({"--fault", "parity"});
  ASSERT_EQ(Exchange(RawTelegramCommand, RawTelegramFrameSize), RawTelegramFrameSize);
  DecodeRawTelegramFrame(AnswerBuffer);
  EXPECT_TRUE(Contains(LoggedMessages(), "Bad minute parity!"));
  ClosePort();
  StopSimulator(sim_);

  Connect({"--fault", "trickle"});
  ASSERT_EQ(Exchange(DecodedTimeCommand, DecodedTimeFrameSize), DecodedTimeFrameSize);
  ClosePort();
  StopSimulator(sim_);

  // A module that hangs up: the exchange gets nothing and keeps its pace.
  Connect({"--fault", "hangup"});
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange(RawTelegramCommand, RawTelegramFrameSize), 0);
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count();
  EXPECT_GE(took, 1500);
  EXPECT_LE(took, 8000);
}

}  // namespace
