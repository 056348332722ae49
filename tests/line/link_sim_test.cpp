// The link and the decoders against the receiver simulator: the polls of a
// run, from powering the module to a clock setting (through the recording
// stand-in), and what the simulator's faults look like from this side.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <chrono>
#include <string>
#include <vector>

#include "clock/evaluate.h"
#include "clock/pcclock.h"
#include "decode/decode.h"
#include "config/settings.h"
#include "link/exchange.h"
#include "link/port.h"
#include "support/fake_clockset.h"
#include "support/simulator.h"
#include "driver/poll.h"
#include "support/testutil.h"

namespace {

// The exchanges' buffer, as the driver has its own.
unsigned char Exchanged[AnswerBufferSize];

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
    if (hadTz_) {
      setenv("TZ", savedTz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  // Starts the simulator and opens, configures and powers its port.
  void Connect(std::vector<std::string> options) {
    ASSERT_TRUE(sim_.Start(SimDirectory(), options));
    std::string port = sim_.Line();
    ASSERT_FALSE(port.empty());
    ASSERT_LT(port.size(), (size_t)PortNameSize);
    snprintf(Settings.port, PortNameSize, "%s", port.c_str());
    ASSERT_EQ(OpenPort(), 0) << Settings.port;
    ASSERT_EQ(ConfigurePort(Settings.baud, 8, NoParity, OneStopBit), 0);
    SetRts(1);
    SetDtr(1);
  }

  int Exchange(const unsigned char* command, int expected) {
    memcpy(Exchanged, command, 2);
    return ExchangeCommand(Exchanged, AnswerTimeLimit, expected);
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
  DumpFrame(Exchanged, IdentFrameSize, DumpText);

  ASSERT_EQ(Exchange(RawTelegramCommand, RawTelegramFrameSize), RawTelegramFrameSize);
  DumpFrame(Exchanged, RawTelegramFrameSize, DumpHex);
  PcTime before;
  ReadPcClock(&before);
  CarryOutAnswer(&TestRun, Exchanged, FrameRaw);
  ASSERT_EQ(FakeClock.calls, 1);
  // The clock is set 30 s ahead of itself, to the millisecond but for the
  // machine's own delays (the exchange's timing is taken out of the capture).
  int64_t ahead = FakeClock.seconds * 1000 + FakeClock.milliseconds -
                  (before.time * 1000 + before.millitm);
  EXPECT_GE(ahead, 30000 - 60);
  EXPECT_LE(ahead, 30000 + 60);

  ASSERT_EQ(Exchange(DecodedTimeCommand, DecodedTimeFrameSize), DecodedTimeFrameSize);
  CarryOutAnswer(&TestRun, Exchanged, FrameDecodedTime);

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
  CarryOutAnswer(&TestRun, Exchanged, FrameRaw);
  EXPECT_TRUE(Contains(LoggedMessages(), "Bad minute parity!"));
  ClosePort();
  EXPECT_EQ(sim_.Wait(SIGTERM), 0);

  Connect({"--fault", "trickle"});
  ASSERT_EQ(Exchange(DecodedTimeCommand, DecodedTimeFrameSize), DecodedTimeFrameSize);
  ClosePort();
  EXPECT_EQ(sim_.Wait(SIGTERM), 0);

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
