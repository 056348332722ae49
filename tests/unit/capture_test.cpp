// The capture of an answer: the PC clock taken back from the moment it was
// read to the moment the module read its own clock, term by term.
#include <gtest/gtest.h>

#include "clock/capture.h"
#include "clock/pcclock.h"
#include "config/settings.h"
#include "decode/decode.h"
#include "support/testutil.h"

namespace {

PcTime Reading(int64_t time, int millitm, int zone = -60, int dst = 0) {
  PcTime t;
  t.time = time;
  t.millitm = (uint16_t)millitm;
  t.timezone = (int16_t)zone;
  t.dstflag = (int16_t)dst;
  return t;
}

// The capture in milliseconds since 1970.
int64_t CaptureMs(const PcTime& now, int64_t monotonicNow, int64_t lastByte, int bytes,
                  int baud) {
  PcTime capture;
  AnswerCaptureTime(&now, monotonicNow, lastByte, bytes, baud, &capture);
  EXPECT_LT(capture.millitm, 1000);
  return capture.time * 1000 + capture.millitm;
}

TEST(AnswerCapture, EachTermTakesTheReadingBack) {
  const PcTime now = Reading(1796736917, 500);
  const int64_t ms = 1796736917500LL;
  // Only the module's cut hundredths: half a hundredth.
  EXPECT_EQ(CaptureMs(now, 5000, 5000, 0, 19200), ms - 5);
  // The time since the last byte: the read's 100 ms of silence and more.
  EXPECT_EQ(CaptureMs(now, 5000, 4900, 0, 19200), ms - 100 - 5);
  EXPECT_EQ(CaptureMs(now, 5000, 4877, 0, 19200), ms - 123 - 5);
  // The frames on the wire, 10 bits a byte: 26 bytes at 19200 Bd take
  // 13.54 ms, 10 bytes 5.21 ms; at 9600 Bd twice that; at 1200 Bd 216.7 ms.
  EXPECT_EQ(CaptureMs(now, 5000, 5000, 26, 19200), ms - 19);  // 18.54 rounded
  EXPECT_EQ(CaptureMs(now, 5000, 5000, 10, 19200), ms - 10);  // 10.21
  EXPECT_EQ(CaptureMs(now, 5000, 5000, 26, 9600), ms - 32);   // 32.08
  EXPECT_EQ(CaptureMs(now, 5000, 5000, 10, 9600), ms - 15);   // 15.42
  EXPECT_EQ(CaptureMs(now, 5000, 5000, 26, 1200), ms - 222);  // 221.67
  EXPECT_EQ(CaptureMs(now, 5000, 5000, 26, 115200), ms - 7);  // 7.26
  // All together, as after a raw poll at the default rate.
  EXPECT_EQ(CaptureMs(now, 5000, 4896, 26, 19200), ms - 104 - 19);
}

TEST(AnswerCapture, CarriesAcrossWholeSecondsAndKeepsTheZone) {
  PcTime now = Reading(1774746000, 3, -60, 1);
  PcTime capture;
  AnswerCaptureTime(&now, 10000, 9880, 26, 19200, &capture);  // 3 - 120 - 18.54
  EXPECT_EQ(capture.time, 1774745999);
  EXPECT_EQ(capture.millitm, 864);
  EXPECT_EQ(capture.timezone, -60);
  EXPECT_EQ(capture.dstflag, 1);
  // Several seconds back, and to the millisecond before a whole second.
  now = Reading(100, 0);
  EXPECT_EQ(CaptureMs(now, 10000, 7000, 0, 0), 100000 - 3000 - 5);
  EXPECT_EQ(CaptureMs(now, 10000, 10000, 0, 0), 99995);
}

TEST(AnswerCapture, WithoutAKnownArrivalOrRateTheTermIsLeftOut) {
  const PcTime now = Reading(2000000000, 250);
  const int64_t ms = 2000000000250LL;
  EXPECT_EQ(CaptureMs(now, 5000, 0, 0, 19200), ms - 5);      // no read yet
  EXPECT_EQ(CaptureMs(now, 5000, -20, 0, 19200), ms - 5);
  EXPECT_EQ(CaptureMs(now, 5000, 5001, 0, 19200), ms - 5);   // not before now
  EXPECT_EQ(CaptureMs(now, 5000, 5000, 26, 0), ms - 5);      // no rate
  EXPECT_EQ(CaptureMs(now, 5000, 5000, 26, -19200), ms - 5);
  EXPECT_EQ(CaptureMs(now, 5000, 5000, -26, 19200), ms - 5);
  // The slowest and fastest rates stay within their arithmetic.
  EXPECT_EQ(CaptureMs(now, 5000, 5000, 26, 1), ms - 260000 - 5);
  EXPECT_EQ(CaptureMs(now, 5000, 5000, 26, INT32_MAX), ms - 5);
}

// Through the decoders: without a read there is no arrival, so a decoder's
// capture is the PC clock now less the frame's wire time and half a hundredth.
TEST(AnswerCapture, DecodersCaptureAtTheModulesReading) {
  ResetProgramState();
  Settings.baud = 9600;
  for (int frame : {26, 10}) {
    PcTime before, capture, after;
    ReadPcClock(&before);
    CaptureAnswerTime(&capture, frame);
    ReadPcClock(&after);
    int64_t back = (frame * 10 * 1000000LL / 9600 + 5000 + 500) / 1000;
    int64_t got = capture.time * 1000 + capture.millitm;
    EXPECT_GE(got, before.time * 1000 + before.millitm - back) << frame;
    EXPECT_LE(got, after.time * 1000 + after.millitm - back) << frame;
  }
}

}  // namespace
