// The raw telegram and decoded-time decoders: what each frame makes the
// program log, count and write to the data file.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "clock/evaluate.h"
#include "clock/pcclock.h"
#include "decode/decode.h"
#include "log/log.h"
#include "config/paths.h"
#include "config/settings.h"
#include "support/fake_clockset.h"
#include "driver/poll.h"
#include "support/testutil.h"

namespace {

// The complete, clean raw frame of 08.12.2026 14:35:17.500, a Tuesday in CET.
const unsigned char CleanRawFrame[RawTelegramFrameSize] = {
    0, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x3B, 0,
    0x00, 0x00, 0xB4, 0x86, 0x82, 0x48, 0x9A, 0x04, 0x00, 0x32, 0x00};

struct RawFrame {
  unsigned char bytes[RawTelegramFrameSize];
  RawFrame() { memcpy(bytes, CleanRawFrame, sizeof bytes); }
  // Writes value into telegram bits first..first+width-1, lowest bit first.
  RawFrame& Bits(int first, int width, unsigned value) {
    for (int i = 0; i < width; ++i) {
      int n = first + i;
      unsigned char mask = (unsigned char)(1u << (n % 8));
      if ((value >> i) & 1u)
        bytes[15 + n / 8] |= mask;
      else
        bytes[15 + n / 8] &= (unsigned char)~mask;
    }
    return *this;
  }
  RawFrame& Byte(int index, unsigned char value) {
    bytes[index] = value;
    return *this;
  }
  // Sets bit parity so that bits first..parity hold an even number of ones.
  RawFrame& Even(int first, int parity) {
    unsigned ones = 0;
    for (int n = first; n < parity; ++n) ones += (bytes[15 + n / 8] >> (n % 8)) & 1u;
    return Bits(parity, 1, ones & 1u);
  }
};

// Messages before the flag line, i.e. the decoder's own complaints.
std::vector<std::string> Complaints(const std::vector<std::string>& lines) {
  std::vector<std::string> result;
  for (const std::string& line : lines) {
    if (line.rfind("R:", 0) == 0) break;
    result.push_back(line);
  }
  return result;
}

class RawDecoder : public ::testing::Test {
 protected:
  void SetUp() override { ResetProgramState(); }
};

TEST_F(RawDecoder, CleanFrameIsEvaluatedAndWrittenToTheDataFile) {
  Settings.WriteData = 1;
  CarryOutAnswer(&TestRun, CleanRawFrame, FrameRaw);
  std::vector<std::string> lines = LoggedMessages();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "R:0 A1:0 Z1:0 Z2:1 A2:0 S:1");
  EXPECT_EQ(lines[1], "14:35:17.500 08.12.2026 Tuesday");
  EXPECT_EQ(lines[2].rfind("Time diff: ", 0), 0u) << lines[2];
  EXPECT_EQ(TestRun.counting.ContValidTime, 1);
  EXPECT_EQ(TestRun.counting.day, 8);
  EXPECT_EQ(TestRun.counting.month, 12);
  EXPECT_EQ(TestRun.counting.weekday, 2);

  std::string data = ReadFile(Paths.data);
  if (data.size() >= 2 && data.compare(data.size() - 2, 2, "\r\n") == 0)
    data.erase(data.size() - 2, 1);  // Windows writes the line end in text mode
  ASSERT_EQ(data.size(), 138u) << data;
  EXPECT_TRUE(HasTimestampPrefix(data));
  EXPECT_EQ(StripTimestamp(data),
            "00 3B 00 00 00 B4 86 82 48 9A 04 00 "
            "00000000 00000000 00101101 01100001 01000001 00010010 01011001 00100000 00000000 "
            "\n");
}

TEST_F(RawDecoder, IncompleteFrameIsRejectedWithOneMessage) {
  Settings.WriteData = 1;
  for (int variant = 0; variant < 2; ++variant) {
    ResetProgramState();
    Settings.WriteData = 1;
    TestRun.counting.ContValidTime = 2;
    RawFrame frame;
    if (variant == 0) frame.Byte(13, 58);
    else frame.Byte(12, 1);
    CarryOutAnswer(&TestRun, frame.bytes, FrameRaw);
    EXPECT_EQ(LoggedMessages(), std::vector<std::string>{"Bad data!"});
    EXPECT_EQ(TestRun.counting.ContValidTime, 0);
    EXPECT_FALSE(FileExists(Paths.data));
  }
}

TEST_F(RawDecoder, EveryFailedCheckIsReportedInOrderAndInvalidates) {
  TestRun.counting.ContValidTime = 2;
  CarryOutAnswer(&TestRun, RawFrame().Bits(20, 1, 0).Byte(0, 2).bytes, FrameRaw);
  std::vector<std::string> lines = LoggedMessages();
  EXPECT_EQ(Complaints(lines),
            (std::vector<std::string>{"Bad start bit!", "Bad marks in new minute!"}));
  ASSERT_EQ(lines.size(), 4u);  // no difference line for an invalid telegram
  EXPECT_EQ(lines[2], "R:0 A1:0 Z1:0 Z2:1 A2:0 S:0");
  EXPECT_EQ(lines[3], "14:35:17.500 08.12.2026 Tuesday");
  EXPECT_EQ(TestRun.counting.ContValidTime, 0);

  ResetProgramState();
  // Flipping a parity bit breaks its check; the minute and date ones here.
  RawFrame frame;
  frame.bytes[15 + 28 / 8] ^= (unsigned char)(1u << (28 % 8));
  frame.bytes[15 + 58 / 8] ^= (unsigned char)(1u << (58 % 8));
  CarryOutAnswer(&TestRun, frame.bytes, FrameRaw);
  EXPECT_EQ(Complaints(LoggedMessages()),
            (std::vector<std::string>{"Bad minute parity!", "Bad date parity!"}));

  ResetProgramState();
  frame = RawFrame();
  frame.bytes[15 + 35 / 8] ^= (unsigned char)(1u << (35 % 8));
  CarryOutAnswer(&TestRun, frame.bytes, FrameRaw);
  EXPECT_EQ(Complaints(LoggedMessages()), std::vector<std::string>{"Bad hour parity!"});
}

TEST_F(RawDecoder, FieldValuesAtTheirEdges) {
  Settings.century = 1900;
  CarryOutAnswer(&TestRun, CleanRawFrame, FrameRaw);
  EXPECT_EQ(LoggedMessages()[1], "14:35:17.500 08.12.1926 Tuesday");

  // Minute digits 0x7F with a matching parity bit: 85, not detected.
  ResetProgramState();
  CarryOutAnswer(&TestRun, RawFrame().Bits(21, 7, 0x7F).Bits(28, 1, 1).Byte(24, 99).bytes, FrameRaw);
  std::vector<std::string> lines = LoggedMessages();
  EXPECT_EQ(lines[0], "R:0 A1:0 Z1:0 Z2:1 A2:0 S:1");
  EXPECT_EQ(lines[1], "14:85:17.990 08.12.2026 Tuesday");

  // Flag bits and a negative second as the module sends them.
  ResetProgramState();
  CarryOutAnswer(&TestRun, RawFrame().Bits(15, 5, 0x1F).Byte(1, 0xFF).bytes, FrameRaw);
  lines = LoggedMessages();
  EXPECT_EQ(lines[0], "R:1 A1:1 Z1:1 Z2:1 A2:1 S:1");
  EXPECT_EQ(lines[1], "14:35:-01.500 08.12.2026 Tuesday");
}

TEST_F(RawDecoder, NoDataLineWhileWriteDataIsOff) {
  CarryOutAnswer(&TestRun, CleanRawFrame, FrameRaw);
  EXPECT_FALSE(FileExists(Paths.data));
}

TEST(RawHelpers, BcdParityAndBitText) {
  EXPECT_EQ(BcdToInt(0x26), 26);
  EXPECT_EQ(BcdToInt(0x59), 59);
  EXPECT_EQ(BcdToInt(0x0A), 10);   // digits above 9 are not detected
  EXPECT_EQ(BcdToInt(0x7F), 85);
  EXPECT_EQ(BcdToInt(0xC8), -128);  // sums above 127 wrap in 8 bits
  EXPECT_EQ(BcdToInt(0xFF), -91);

  EXPECT_EQ(CheckParity(0x35, 7, 0), 1);  // four ones
  EXPECT_EQ(CheckParity(0x35, 7, 1), 0);
  EXPECT_EQ(CheckParity(0x80, 7, 0), 1);  // bits above the width do not count
  EXPECT_EQ(CheckParity(0x3FFFFF, 22, 0), 1);
  EXPECT_EQ(CheckParity(0x3FFFFE, 22, 0), 0);

  char text[9];
  const struct {
    unsigned char byte;
    const char* shown;
  } cases[] = {{0x01, "10000000"}, {0x80, "00000001"}, {0x0B, "11010000"}, {0xB4, "00101101"}};
  for (const auto& c : cases) {
    BitText(ReverseBits(c.byte), text);
    EXPECT_STREQ(text, c.shown);
  }
}

TEST(RawHelpers, DataLineIsBoundedByItsBuffer) {
  char line[DataLineSize];
  BuildDataLine(CleanRawFrame, line, sizeof line);
  EXPECT_EQ(strlen(line), 118u);  // the timestamp is the shell's
  char small[40];
  memset(small, 'x', sizeof small);
  BuildDataLine(CleanRawFrame, small, 30);
  EXPECT_EQ(strlen(small), 29u);
  EXPECT_EQ(small[30], 'x');
}

// The decoded-time frame of 08.12.2026 14:35:17.500, a Tuesday.
struct DecodedFrame {
  unsigned char bytes[DecodedTimeFrameSize] = {0x80, 35, 14, 8, 0x2C, 26, 17, 0, 50, 0};
  DecodedFrame& Byte(int index, unsigned char value) {
    bytes[index] = value;
    return *this;
  }
};

class DecodedDecoder : public RawDecoder {};

TEST_F(DecodedDecoder, ValuesAndFlagsAreTakenAsSent) {
  Settings.WriteData = 1;
  CarryOutAnswer(&TestRun, DecodedFrame().bytes, FrameDecodedTime);
  std::vector<std::string> lines = LoggedMessages();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "R:0 A1:0 Z1:0 Z2:0 A2:0 S:1");
  EXPECT_EQ(lines[1], "14:35:17.500 08.12.2026 Tuesday");
  EXPECT_EQ(TestRun.counting.ContValidTime, 1);
  EXPECT_FALSE(FileExists(Paths.data));  // this frame never goes to the data file

  ResetProgramState();
  CarryOutAnswer(&TestRun, DecodedFrame().Byte(4, 0xAC).Byte(0, 0x84).Byte(8, 99).bytes, FrameDecodedTime);
  lines = LoggedMessages();
  EXPECT_EQ(lines[0], "R:1 A1:0 Z1:0 Z2:1 A2:0 S:1");
  EXPECT_EQ(lines[1], "14:35:17.990 08.12.2026 Tuesday");

  ResetProgramState();
  CarryOutAnswer(&TestRun, DecodedFrame().Byte(0, 0x8B).Byte(5, 0).Byte(4, 0x7F).bytes, FrameDecodedTime);
  lines = LoggedMessages();
  EXPECT_EQ(lines[0], "R:0 A1:1 Z1:1 Z2:0 A2:1 S:1");
  EXPECT_EQ(lines[1], "14:35:17.500 08.15.2000 Sunday");
}

TEST_F(DecodedDecoder, NotValidFrameIsRejectedWithOneMessage) {
  TestRun.counting.ContValidTime = 2;
  CarryOutAnswer(&TestRun, DecodedFrame().Byte(0, 0x7F).Byte(7, 1).bytes, FrameDecodedTime);
  EXPECT_EQ(LoggedMessages(), std::vector<std::string>{"Bad data!"});
  EXPECT_EQ(TestRun.counting.ContValidTime, 0);
}

TEST_F(DecodedDecoder, ModuleVerdictsAreReportedInOrder) {
  TestRun.counting.ContValidTime = 2;
  CarryOutAnswer(&TestRun, DecodedFrame().Byte(0, 0xF0).Byte(7, 1).bytes, FrameDecodedTime);
  std::vector<std::string> lines = LoggedMessages();
  EXPECT_EQ(Complaints(lines),
            (std::vector<std::string>{"Bad minute parity!", "Bad hour parity!",
                                      "Bad date parity!", "Bad marks in new minute!"}));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[5], "14:35:17.500 08.12.2026 Tuesday");
  EXPECT_EQ(TestRun.counting.ContValidTime, 0);
}

TEST(PureDecoders, FailedChecksInOrderAndTheTelegramWithoutCapture) {
  DecodeResult r;
  RawFrame raw;
  raw.Bits(20, 1, 0).Byte(0, 2);
  raw.bytes[15 + 35 / 8] ^= (unsigned char)(1u << (35 % 8));
  DecodeRawTelegram(raw.bytes, 2000, &r);
  EXPECT_EQ(r.complete, 1);
  EXPECT_EQ(std::vector<int32_t>(r.failed, r.failed + r.failedCount),
            (std::vector<int32_t>{CheckStartBit, CheckMarks, CheckHourParity}));
  EXPECT_EQ(r.telegram.valid, 0);
  EXPECT_EQ(r.telegram.capture.time, 0);
  DecodeRawTelegram(RawFrame().Byte(13, 58).bytes, 2000, &r);
  EXPECT_EQ(r.complete, 0);
  ASSERT_EQ(r.failedCount, 1);
  EXPECT_STREQ(CheckMessages[r.failed[0]], "Bad data!");

  DecodeDecodedTime(DecodedFrame().Byte(0, 0xF0).Byte(7, 1).bytes, 1900, &r);
  EXPECT_EQ(std::vector<int32_t>(r.failed, r.failed + r.failedCount),
            (std::vector<int32_t>{CheckMinuteParity, CheckHourParity, CheckDateParity,
                                  CheckMarks}));
  EXPECT_EQ(r.telegram.year, 1926);
  DecodeDecodedTime(DecodedFrame().bytes, 2000, &r);
  EXPECT_EQ(r.failedCount, 0);
  EXPECT_EQ(r.telegram.valid, 1);
  EXPECT_EQ(r.telegram.minute * 100 + r.telegram.hour, 3514);
}

// 1 when the evaluation of the frame's telegram, fresh and captured now,
// would hand it to the time daemon's feed.
int Fed(const unsigned char* frame, int decoded) {
  PcTime capture;
  ReadPcClock(&capture);
  RunState fresh;
  ResetRunState(&fresh);
  PollDecision decision;
  DecideFrame(frame, decoded ? FrameDecodedTime : FrameRaw, &capture, 0, &Settings, &fresh, NULL,
              &decision);
  return decision.trusted;
}

TEST_F(DecodedDecoder, TelegramsThatNameNoRealInstantAreLoggedAndCountedButNeverSetNorFed) {
  const struct { const char* shown; RawFrame raw; DecodedFrame decoded; } cases[] = {
      {"14:60:17.500 08.12.2026 Tuesday", RawFrame().Bits(21, 7, 0x60).Even(21, 28),
       DecodedFrame().Byte(1, 60)},
      {"24:35:17.500 08.12.2026 Tuesday", RawFrame().Bits(29, 6, 0x24).Even(29, 35),
       DecodedFrame().Byte(2, 24)},
      {"14:35:17.500 30.02.2026 Tuesday", RawFrame().Bits(36, 6, 0x30).Bits(45, 5, 2).Even(36, 58),
       DecodedFrame().Byte(3, 30).Byte(4, 0x22)},
      {"14:35:17.500 29.02.2027 Monday", RawFrame().Bits(36, 6, 0x29).Bits(42, 3, 1).Bits(45, 5, 2)
           .Bits(50, 8, 0x27).Even(36, 58),
       DecodedFrame().Byte(3, 29).Byte(4, 0x12).Byte(5, 27)},
      {"14:35:17.500 08.12.2026 Wednesday", RawFrame().Bits(42, 3, 3).Even(36, 58),
       DecodedFrame().Byte(4, 0x3C)},
      {"14:35:17.500 08.12.2026 Tuesday", RawFrame(), DecodedFrame()},  // a real one sets
  };
  for (const auto& c : cases) {
    for (int decoded : {0, 1}) {
      ResetProgramState();
      Settings.DCFSetTime = 1;
      Settings.ValidDateTimeCount = 1;
      Settings.SynchronizeMaxDiff = 1000000;  // as a PC without a real-time clock needs
      if (decoded) {
        CarryOutAnswer(&TestRun, c.decoded.bytes, FrameDecodedTime);
      } else {
        CarryOutAnswer(&TestRun, c.raw.bytes, FrameRaw);
      }
      std::vector<std::string> lines = LoggedMessages();
      SCOPED_TRACE(std::string(c.shown) + (decoded ? " decoded" : " raw"));
      ASSERT_EQ(lines.size(), 4u);
      EXPECT_EQ(lines[1], c.shown);
      EXPECT_EQ(TestRun.counting.ContValidTime, 1);
      bool real = &c == &cases[sizeof cases / sizeof cases[0] - 1];
      EXPECT_EQ(lines[3].rfind("Synchronizing time to ", 0) == 0, real);
      if (!real) {
        EXPECT_EQ(lines[3], "Can't set time! errno " + std::to_string(InvalidTimeErrorCode()));
      }
      EXPECT_EQ(FakeClock.calls, real ? 1 : 0);
      EXPECT_EQ(Fed(decoded ? c.decoded.bytes : c.raw.bytes, decoded), real ? 1 : 0);
    }
  }
}

}  // namespace
