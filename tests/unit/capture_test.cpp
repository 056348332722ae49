// The capture of an answer: the PC clock taken back from the moment it was
// read to the moment the module read its own clock, term by term.
#include <gtest/gtest.h>

#include "clock/capture.h"

namespace {

PcTime Reading(int64_t time, int millitm) {
  PcTime t;
  t.time = time;
  t.millitm = (uint16_t)millitm;
  return t;
}

// The capture in milliseconds since 1970; its monotonic time lies as far
// back from monotonicNow.
int64_t CaptureMs(const PcTime& now, int64_t monotonicNow, int64_t lastByte, int bytes,
                  int baud) {
  PcTime capture;
  int64_t captureMono = -1;
  AnswerCaptureTime(&now, monotonicNow, lastByte, bytes, baud, &capture, &captureMono);
  EXPECT_LT(capture.millitm, 1000);
  int64_t ms = capture.time * 1000 + capture.millitm;
  EXPECT_EQ(monotonicNow - captureMono, now.time * 1000 + now.millitm - ms);
  return ms;
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

TEST(AnswerCapture, CarriesAcrossWholeSeconds) {
  PcTime now = Reading(1774746000, 3);
  EXPECT_EQ(CaptureMs(now, 10000, 9880, 26, 19200), 1774745999864LL);  // 3 - 120 - 18.54
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

}  // namespace
