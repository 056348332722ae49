// The serial port and the command exchange against a module played by the
// test on the other end of a real line (a pseudo-terminal on POSIX, a pair
// of mapped COM ports under Wine). Timings are printed for the record and
// checked only against generous bounds.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "link/exchange.h"
#include "link/port.h"
#include "os/monotonic.h"
#include "support/moduleline.h"
#include "support/testutil.h"

namespace {

// The exchanges' buffer, as the driver has its own.
unsigned char Exchanged[AnswerBufferSize];

typedef std::chrono::steady_clock Clock;

long long MsSince(Clock::time_point start) {
  return (long long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
      .count();
}

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::vector<unsigned char> Pattern(int count, int seed) {
  std::vector<unsigned char> bytes((size_t)count);
  for (int i = 0; i < count; ++i) bytes[(size_t)i] = (unsigned char)(seed + i * 7);
  return bytes;
}

class LinkTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetProgramState();
    ASSERT_TRUE(ModuleLineOpen());
    ASSERT_EQ(OpenPort(), 0) << Settings.port;
    ASSERT_EQ(ConfigurePort(19200, 8, NoParity, OneStopBit), 0);
    ModuleDiscard();
  }
  void TearDown() override {
    if (module_.joinable()) module_.join();
    ClosePort();
    ModuleLineClose();
  }

  // Plays the module: waits for one command, then sends the pieces of its
  // answer with gapMs between them. The command bytes land in command_.
  void Answer(std::vector<std::vector<unsigned char>> pieces, int gapMs) {
    module_ = std::thread([this, pieces, gapMs] {
      commandCount_ = ModuleRead(command_, sizeof command_, 5000);
      for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) Pause(gapMs);
        ModuleWrite(pieces[i].data(), pieces[i].size());
      }
    });
  }

  std::thread module_;
  unsigned char command_[8] = {0};
  int commandCount_ = 0;
};

TEST_F(LinkTest, EveryByteValuePassesUnchangedBothWays) {
  std::vector<unsigned char> all(256);
  for (int i = 0; i < 256; ++i) all[(size_t)i] = (unsigned char)i;
  ASSERT_TRUE(ModuleWrite(all.data(), all.size()));
  unsigned char got[1000];
  int count = 0;
  for (int tries = 0; tries < 5 && count < 256; ++tries) count += ReadPort(got, count, 1000);
  ASSERT_EQ(count, 256);
  EXPECT_EQ(0, memcmp(got, all.data(), 256));
  EXPECT_EQ(got[256], 0);

  for (int i = 0; i < 256; i += 2) ASSERT_EQ(WriteCommand(&all[(size_t)i]), 0) << i;
  unsigned char sent[300];
  ASSERT_EQ(ModuleRead(sent, sizeof sent, 2000), 256);
  EXPECT_EQ(0, memcmp(sent, all.data(), 256));
}

TEST_F(LinkTest, ReadTimings) {
  // Silent line: about one second, nothing returned, nothing touched.
  unsigned char area[1100];
  memset(area, 0xAA, sizeof area);
  Clock::time_point start = Clock::now();
  EXPECT_EQ(ReadPort(area, 5, 1000), 0);
  long long silent = MsSince(start);
  for (unsigned char c : area) ASSERT_EQ(c, 0xAA);
  EXPECT_GE(silent, 800);
  EXPECT_LE(silent, 3000);

  // A burst in one piece returns about 100 ms after its last byte, stored at
  // the offset and followed by a zero byte.
  std::vector<unsigned char> burst = Pattern(26, 1);
  Clock::time_point sentAt;
  std::thread sender([&] {
    Pause(200);
    sentAt = Clock::now();
    ModuleWrite(burst.data(), burst.size());
  });
  EXPECT_EQ(ReadPort(area, 7, 1000), 26);
  Clock::time_point done = Clock::now();
  sender.join();
  long long afterBurst =
      (long long)std::chrono::duration_cast<std::chrono::milliseconds>(done - sentAt).count();
  EXPECT_EQ(0, memcmp(area + 7, burst.data(), 26));
  EXPECT_EQ(area[33], 0);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(area[i], 0xAA);
  EXPECT_GE(afterBurst, 60);
  EXPECT_LE(afterBurst, 900);

  // Bytes that arrived before the read are returned by it, promptly.
  ASSERT_TRUE(ModuleWrite(burst.data(), 10));
  Pause(100);
  start = Clock::now();
  EXPECT_EQ(ReadPort(area, 0, 1000), 10);
  long long pending = MsSince(start);
  EXPECT_LE(pending, 900);

  printf("[timing] silent read %lld ms; burst returned %lld ms after its last byte; "
         "pending bytes %lld ms\n",
         silent, afterBurst, pending);
}

TEST_F(LinkTest, TheLastBytesArrivalIsRecordedNotTheReadsReturn) {
  // An answer in one piece: the read returns about 100 ms after it, yet the
  // port notes when its last byte came (on Windows: the return less the
  // 100 ms of silence). Under Wine that is an estimate, hence the bounds.
  std::vector<unsigned char> burst = Pattern(26, 4);
  unsigned char area[1000];
  long long spread[3] = {0, 0, 0};
  for (int round = 0; round < 3; ++round) {
    int64_t sentAt = 0;
    std::thread sender([&] {
      Pause(150);
      sentAt = MonotonicMs();
      ModuleWrite(burst.data(), burst.size());
    });
    EXPECT_EQ(ReadPort(area, 0, 1000), 26);
    int64_t returned = MonotonicMs();
    sender.join();
    int64_t arrival = PortLastByteMs();
    EXPECT_GE(returned - sentAt, 60);
    EXPECT_GE(arrival, sentAt - 20);
    EXPECT_LE(arrival, sentAt + 40);
    spread[round] = (long long)(arrival - sentAt);
    // Reads that bring nothing leave the record alone.
    EXPECT_EQ(ReadPort(area, 0, 1000), 0);
    EXPECT_EQ(PortLastByteMs(), arrival);
  }
  printf("[timing] last byte recorded %lld, %lld, %lld ms after it was written\n", spread[0],
         spread[1], spread[2]);
}

TEST_F(LinkTest, ReadNeverStoresPastTheGivenSize) {
  unsigned char area[1100];
  memset(area, 0xEE, sizeof area);
  std::vector<unsigned char> bytes = Pattern(100, 3);
  ASSERT_TRUE(ModuleWrite(bytes.data(), bytes.size()));
  Pause(100);
  EXPECT_EQ(ReadPort(area, 990, 1000), 9);
  EXPECT_EQ(0, memcmp(area + 990, bytes.data(), 9));
  EXPECT_EQ(area[999], 0);
  for (int i = 1000; i < 1100; ++i) ASSERT_EQ(area[i], 0xEE) << i;
  // No room at all: no read.
  EXPECT_EQ(ReadPort(area, 999, 1000), 0);
  EXPECT_EQ(area[999], 0);
  // The rest is still there for the next read (and not for the next test:
  // under Wine the line outlives the port).
  EXPECT_EQ(ReadPort(area, 0, 1000), 91);
  EXPECT_EQ(0, memcmp(area, bytes.data() + 9, 91));
}

TEST_F(LinkTest, IdentificationExchangeIsDumpedAsText) {
  const unsigned char ident[12] = {'D', 'C', 'F', 0, '1', '.', '0', ' ', 'x', 'y', 0x0D, 0x0A};
  Answer({std::vector<unsigned char>(ident, ident + 12)}, 0);
  memcpy(Exchanged, IdentCommand, 2);
  ASSERT_EQ(ExchangeCommand(Exchanged, AnswerTimeLimit, IdentFrameSize), 12);
  module_.join();
  ASSERT_EQ(commandCount_, 2);
  EXPECT_EQ(command_[0], 0x01);
  EXPECT_EQ(command_[1], 0x00);
  EXPECT_EQ(Exchanged[12], 0);
  DumpFrame(Exchanged, 12, DumpText);
  std::vector<std::string> logged = LoggedMessages();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], "DCF1.0 xy<CR><LF>");
}

TEST_F(LinkTest, StaleInputIsFlushedAndSurplusCounted) {
  ASSERT_TRUE(ModuleWrite("stale", 5));
  Pause(50);
  std::vector<unsigned char> answer = Pattern(30, 0);
  answer[3] = 0x00;
  answer[4] = 0xFF;
  Answer({answer}, 0);
  memcpy(Exchanged, RawTelegramCommand, 2);
  ASSERT_EQ(ExchangeCommand(Exchanged, AnswerTimeLimit, 26), 30);
  module_.join();
  EXPECT_EQ(command_[0], 0x03);
  EXPECT_EQ(0, memcmp(Exchanged, answer.data(), 30));
  DumpFrame(Exchanged, 30, DumpHex);
  std::vector<std::string> logged = LoggedMessages();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].size(), 90u);
  EXPECT_EQ(logged[0].substr(9, 6), "00 FF ");
  EXPECT_EQ(logged[0].back(), ' ');
}

TEST_F(LinkTest, TrickleSlowerThanTheLimitIsGatheredWhole) {
  std::vector<unsigned char> answer = Pattern(26, 9);
  std::vector<std::vector<unsigned char>> pieces;
  for (int i = 0; i < 26; i += 7) {
    pieces.push_back(std::vector<unsigned char>(answer.begin() + i,
                                                answer.begin() + std::min(i + 7, 26)));
  }
  Answer(pieces, 750);  // four pieces: 2.25 s in all, each gap below a second
  Clock::time_point start = Clock::now();
  memcpy(Exchanged, RawTelegramCommand, 2);
  EXPECT_EQ(ExchangeCommand(Exchanged, AnswerTimeLimit, 26), 26);
  long long took = MsSince(start);
  EXPECT_EQ(0, memcmp(Exchanged, answer.data(), 26));
  printf("[timing] trickle of 4 pieces 750 ms apart gathered in %lld ms\n", took);
}

TEST_F(LinkTest, SilentModuleGivesZeroAfterAboutThreeSeconds) {
  Answer({}, 0);
  Clock::time_point start = Clock::now();
  memcpy(Exchanged, DecodedTimeCommand, 2);
  EXPECT_EQ(ExchangeCommand(Exchanged, AnswerTimeLimit, 10), 0);
  long long took = MsSince(start);
  module_.join();
  EXPECT_EQ(commandCount_, 2);
  EXPECT_EQ(command_[0], 0x04);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Exchanged[i], 0);
  EXPECT_GE(took, 1900);
  EXPECT_LE(took, 7000);
  EXPECT_TRUE(LoggedMessages().empty());
  printf("[timing] silent module: exchange returned 0 after %lld ms\n", took);
}

TEST_F(LinkTest, FloodNeverOverrunsTheAnswerBuffer) {
  // 25 bytes, then after a pause several kilobytes: the second read starts
  // at offset 25 and must be held to the room left.
  std::vector<unsigned char> first = Pattern(25, 5);
  std::vector<unsigned char> flood = Pattern(6000, 11);
  Answer({first, flood}, 300);
  memcpy(Exchanged, RawTelegramCommand, 2);
  int count = ExchangeCommand(Exchanged, AnswerTimeLimit, 26);
  module_.join();
  EXPECT_GE(count, 26);
  EXPECT_LE(count, AnswerBufferSize - 1);
  EXPECT_EQ(Exchanged[count], 0);
  EXPECT_EQ(0, memcmp(Exchanged, first.data(), 25));
  DumpFrame(Exchanged, count, DumpHex);
  std::vector<std::string> logged = LoggedMessages();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_LE(logged[0].size(), 1002u);
}

TEST_F(LinkTest, AClosedPortDoesNothing) {
  EXPECT_EQ(ClosePort(), 0);
  EXPECT_NE(ClosePort(), 0);  // not open any more
  SetRts(0);
  SetDtr(0);
  unsigned char area[16];
  memset(area, 0x55, sizeof area);
  Clock::time_point start = Clock::now();
  EXPECT_EQ(ReadPort(area, 0, sizeof area), 0);
  EXPECT_NE(WriteCommand(RawTelegramCommand), 0);
  memcpy(Exchanged, RawTelegramCommand, 2);
  EXPECT_EQ(ExchangeCommand(Exchanged, AnswerTimeLimit, 26), 0);
  EXPECT_LE(MsSince(start), 500);
  EXPECT_EQ(area[0], 0x55);
  unsigned char got[4];
  EXPECT_EQ(ModuleRead(got, sizeof got, 100), 0);
}

TEST(DumpFrameTest, EmptyAndOverlongDumps) {
  ResetProgramState();
  DumpFrame(Exchanged, 0, DumpHex);
  std::vector<unsigned char> many(1200, 0xAB);
  DumpFrame(many.data(), (int)many.size(), DumpHex);
  std::vector<unsigned char> text(1200, 'z');
  text[0] = 0x0D;
  DumpFrame(text.data(), (int)text.size(), DumpText);
  std::vector<std::string> logged = LoggedMessages();
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_EQ(logged[0], "");
  // Cut after whole pieces and then to the longest message a line can hold.
  EXPECT_EQ(logged[1].size(), 1002u);
  EXPECT_EQ(logged[1].substr(0, 6), "AB AB ");
  EXPECT_EQ(logged[2].size(), 1002u);
  EXPECT_EQ(logged[2].substr(0, 6), "<CR>zz");
}

// The module's text is data, never a format: conversions in it are shown as
// they came, and a zero byte inside leaves no trace and ends nothing.
TEST(DumpFrameTest, ModuleTextWithConversionsIsShownLiterally) {
  ResetProgramState();
  const char answer[] = "%n%s%x\0%d%%\r\n";
  DumpFrame((const unsigned char*)answer, (int)sizeof answer - 1, DumpText);
  std::vector<std::string> logged = LoggedMessages();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], "%n%s%x%d%%<CR><LF>");
}

}  // namespace
