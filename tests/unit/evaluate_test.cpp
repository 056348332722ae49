// Telegram evaluation: the logged lines, the count of valid telegrams, the
// difference to the PC clock and when the clock is set.
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "clock/evaluate.h"
#include "clock/pcclock.h"
#include "config/settings.h"
#include "config/status.h"
#include "decode/decode.h"
#include "support/fake_clockset.h"
#include "driver/poll.h"
#include "support/testutil.h"

namespace {

// A valid CET telegram of the given local date and time (its capture set by
// the caller).
TimeTelegram Telegram(int year, int month, int day, int hour, int minute, int second = 0,
                      int millisecond = 0, int weekday = 0) {
  TimeTelegram t = {};
  t.S = 1;
  t.Z2 = 1;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  t.millisecond = millisecond;
  t.weekday = weekday;
  t.valid = 1;
  return t;
}

// Sets the capture so that the PC was diffMs ahead of the telegram, given the
// telegram's UTC time in seconds since 1970.
void CaptureAt(TimeTelegram& t, int64_t utcSeconds, int64_t diffMs) {
  int64_t ms = utcSeconds * 1000 + t.millisecond + diffMs;
  t.capture.time = ms / 1000;
  t.capture.millitm = (uint16_t)(ms % 1000);
}

// t captured by a PC clock that is right.
TimeTelegram OnTime(TimeTelegram t) {
  CaptureAt(t, (int64_t)TelegramUtc(&t).utcMs / 1000, 0);
  return t;
}

// The PC clock now in milliseconds since 1970, truncated as the program reads it.
int64_t NowMs() {
  PcTime now;
  ReadPcClock(&now);
  return now.time * 1000 + now.millitm;
}

// The instant last handed to the stand-in, in milliseconds since 1970.
int64_t RequestedMs() { return FakeClock.seconds * 1000 + FakeClock.milliseconds; }

class Evaluate : public ::testing::Test {
 protected:
  void SetUp() override { ResetProgramState(); }
};

// The lines the pure evaluation gives t, with the test's settings and
// counting state (which it updates); nothing is logged.
PollDecision Decide(const TimeTelegram& t, const SettingsRecord* settings, RunState* run) {
  PollDecision d;
  StartDecision(&d);
  DecideTelegram(&t, t.capture.time * 1000 + t.capture.millitm, settings, &run->counting,
                 &run->chain, NULL, &d);
  return d;
}

std::vector<std::string> Lines(const TimeTelegram& t) {
  PollDecision d = Decide(t, &Settings, &TestRun);
  return std::vector<std::string>(d.lines, d.lines + d.lineCount);
}

TEST_F(Evaluate, FirstTelegramOfTheEpochLogsFlagsTimeAndDifference) {
  TimeTelegram t = Telegram(1970, 1, 1, 1, 0);
  t.R = 1;
  t.A2 = 1;
  t.capture.time = 0;
  t.capture.millitm = 500;
  std::vector<std::string> expected = {"R:1 A1:0 Z1:0 Z2:1 A2:1 S:1",
                                       "01:00:00.000 01.01.1970 Unknown",
                                       "Time diff: -0d 00:00:00.500 ContValidTime: 1"};
  EXPECT_EQ(Lines(t), expected);
  EXPECT_TRUE(LoggedMessages().empty());
  EXPECT_EQ(TestRun.counting.ContValidTime, 1);
  EXPECT_EQ(TestRun.counting.year, 1970);
  EXPECT_EQ(TestRun.counting.hour, 1);
}

TEST_F(Evaluate, SignShowsWhetherThePcWasAheadOrBehind) {
  DifferenceBreakdown breakdown;
  double diff = 0;
  TimeTelegram t = Telegram(1970, 1, 1, 1, 0);
  EXPECT_EQ(ClockDifference(&t, &breakdown, &diff), 1);  // exactly 0 counts as "-"
  EXPECT_EQ(diff, 0.0);

  t = Telegram(1970, 1, 2, 1, 0);  // one day after the capture: PC behind
  EXPECT_EQ(ClockDifference(&t, &breakdown, &diff), 0);
  EXPECT_EQ(diff, -86400000.0);
  EXPECT_EQ(breakdown.days, 1);
  EXPECT_EQ(breakdown.hours + breakdown.minutes + breakdown.seconds + breakdown.milliseconds, 0);

  HandleInTest(t);
  EXPECT_EQ(LoggedMessages().back(), "Time diff: 1d 00:00:00.000 ContValidTime: 1");
}

TEST_F(Evaluate, BreakdownOfWholeHoursDaysAndMixedValues) {
  DifferenceBreakdown breakdown;
  double diff = 0;
  TimeTelegram t = Telegram(2026, 12, 8, 14, 35, 17, 500);
  const int64_t utc = 1796736917;  // 2026-12-08 13:35:17 UTC

  CaptureAt(t, utc, 3600000);
  ClockDifference(&t, &breakdown, &diff);
  EXPECT_EQ(diff, 3600000.0);
  EXPECT_EQ(breakdown.days, 0);
  EXPECT_EQ(breakdown.hours, 1);
  EXPECT_EQ(breakdown.minutes, 0);

  CaptureAt(t, utc, 86400000);
  ClockDifference(&t, &breakdown, &diff);
  EXPECT_EQ(breakdown.days, 1);
  EXPECT_EQ(breakdown.hours, 0);

  CaptureAt(t, utc, -(2 * 86400000LL + 3 * 3600000 + 4 * 60000 + 5 * 1000 + 6));
  EXPECT_EQ(ClockDifference(&t, &breakdown, &diff), 0);
  EXPECT_EQ(breakdown.days, 2);
  EXPECT_EQ(breakdown.hours, 3);
  EXPECT_EQ(breakdown.minutes, 4);
  EXPECT_EQ(breakdown.seconds, 5);
  EXPECT_EQ(breakdown.milliseconds, 6);
}

TEST_F(Evaluate, TelegramTimeMatchesTheCalendarAcrossLeapYearsAndZones) {
  struct Case {
    int year, month, day, hour, minute, second;
    int cest;  // Z1 set, Z2 clear
    int64_t utc;
  };
  // Local CET/CEST times and the same instants in seconds since 1970 (UTC).
  const Case cases[] = {
      {2026, 7, 1, 12, 0, 0, 1, 1782900000},     // summer time: 12:00 CEST is 10:00 UTC
      {2000, 3, 1, 1, 0, 0, 0, 951868800},       // after the 400-year leap day
      {2024, 2, 29, 1, 0, 0, 0, 1709164800},
      {2100, 3, 1, 1, 0, 0, 0, 4107542400LL},    // 2100 has no 29 February
      {2400, 2, 29, 13, 0, 0, 0, 13574606400LL},
      {2038, 1, 19, 4, 14, 8, 0, 2147483648LL},  // past the 32-bit seconds limit
      {2000, 1, 1, 0, 59, 59, 0, 946684799},
  };
  for (const Case& c : cases) {
    TimeTelegram t = Telegram(c.year, c.month, c.day, c.hour, c.minute, c.second);
    t.Z1 = c.cest;
    t.Z2 = 1 - c.cest;
    CaptureAt(t, c.utc, 0);
    DifferenceBreakdown breakdown;
    double diff = -1;
    ClockDifference(&t, &breakdown, &diff);
    EXPECT_EQ(diff, 0.0) << c.year << "-" << c.month << "-" << c.day;
  }
}

TEST_F(Evaluate, CountsEachNewMinuteOnceAndResetsOnInvalidTelegrams) {
  HandleInTest(OnTime(Telegram(2026, 12, 8, 14, 35, 10)));
  HandleInTest(OnTime(Telegram(2026, 12, 8, 14, 35, 40)));  // same minute
  EXPECT_EQ(TestRun.counting.ContValidTime, 1);
  HandleInTest(OnTime(Telegram(2026, 12, 8, 14, 36, 0)));
  EXPECT_EQ(TestRun.counting.ContValidTime, 2);

  TimeTelegram bad = Telegram(2026, 12, 8, 14, 37, 0);
  bad.valid = 0;
  HandleInTest(bad);
  EXPECT_EQ(TestRun.counting.ContValidTime, 0);
  EXPECT_EQ(TestRun.counting.minute, 36);  // an invalid telegram is not remembered
  std::vector<std::string> lines = LoggedMessages();
  ASSERT_EQ(lines.size(), 3u * 3 + 2);  // three lines per valid telegram, two for the invalid
  EXPECT_EQ(lines.back(), "14:37:00.000 08.12.2026 Unknown");

  HandleInTest(OnTime(Telegram(2026, 12, 8, 14, 36, 30)));  // minute of LastTelegram
  EXPECT_EQ(TestRun.counting.ContValidTime, 0);
  HandleInTest(OnTime(Telegram(2026, 12, 8, 14, 38, 0)));
  EXPECT_EQ(TestRun.counting.ContValidTime, 1);
}

TEST_F(Evaluate, SundayAndUnknownWeekdayCountAsTheSameDay) {
  EXPECT_EQ(Lines(Telegram(2026, 12, 13, 10, 0, 0, 0, 7))[1], "10:00:00.000 13.12.2026 Sunday");
  EXPECT_EQ(TestRun.counting.weekday, 0);
  HandleInTest(Telegram(2026, 12, 13, 10, 0, 5, 0, 0));
  EXPECT_EQ(TestRun.counting.ContValidTime, 1);
  HandleInTest(Telegram(2026, 12, 13, 10, 0, 5, 0, 6));  // weekday differs
  EXPECT_EQ(TestRun.counting.ContValidTime, 2);
}

TEST_F(Evaluate, MillisecondOfAThousandIsLoggedAsReceivedAndUsedAsZero) {
  TimeTelegram t = Telegram(1970, 1, 1, 1, 0, 0, 1000);
  t.capture.time = 0;
  t.capture.millitm = 0;
  std::vector<std::string> lines = Lines(t);
  EXPECT_EQ(lines[1], "01:00:00.1000 01.01.1970 Unknown");
  EXPECT_EQ(lines[2], "Time diff: -0d 00:00:00.000 ContValidTime: 1");
}

TEST_F(Evaluate, ValuesOutsideTheTablesAreLoggedWithoutReadingPastThem) {
  for (int weekday : {8, -1, 1000, INT32_MIN}) {
    ResetProgramState();
    EXPECT_EQ(Lines(Telegram(2026, 12, 8, 14, 35, 0, 0, weekday))[1],
              "14:35:00.000 08.12.2026 Unknown")
        << weekday;
  }
  // A month beyond 12 adds the whole year's months, below 1 none: the result
  // stays a defined number of days from 1 January.
  DifferenceBreakdown breakdown;
  double diff13 = 0, diffMax = 0, diff0 = 0, diffNeg = 0, diffJan = 0;
  const int64_t jan2027 = 1798761600;  // 2027-01-01 00:00 UTC
  TimeTelegram t = Telegram(2026, 13, 1, 1, 0);
  CaptureAt(t, jan2027, 0);
  ClockDifference(&t, &breakdown, &diff13);
  EXPECT_EQ(diff13, 0.0);
  t.month = INT32_MAX;
  ClockDifference(&t, &breakdown, &diffMax);
  EXPECT_EQ(diffMax, diff13);
  t.month = 0;
  ClockDifference(&t, &breakdown, &diff0);
  t.month = -7;
  ClockDifference(&t, &breakdown, &diffNeg);
  t.month = 1;
  ClockDifference(&t, &breakdown, &diffJan);
  EXPECT_EQ(diff0, diffJan);
  EXPECT_EQ(diffNeg, diffJan);

  // Years far beyond any calendar neither hang nor overflow.
  t = Telegram(INT32_MAX, 12, 31, 23, 59);
  ClockDifference(&t, &breakdown, &diffMax);
  EXPECT_LT(diffMax, 0.0);
  EXPECT_EQ(breakdown.days, INT32_MAX);
}

class SetClock : public Evaluate {
 protected:
  void SetUp() override {
    Evaluate::SetUp();
    Settings.DCFSetTime = 1;
  }
  // Evaluates telegrams of consecutive minutes with the PC diffMs ahead.
  void EvaluateMinutes(int count, int64_t diffMs, int firstMinute = 0) {
    for (int i = 0; i < count; ++i) {
      TimeTelegram t = Telegram(2026, 12, 8, 14, firstMinute + i);
      CaptureAt(t, 1796734800 + 60 * (firstMinute + i), diffMs);  // 13:00 UTC + minutes
      HandleInTest(t);
    }
  }
};

TEST_F(SetClock, SetsFirstAtTheRequiredCountOfNewMinutes) {
  EvaluateMinutes(2, 5000);
  EXPECT_EQ(FakeClock.calls, 0);
  int64_t before = NowMs();
  EvaluateMinutes(1, 5000, 2);
  int64_t after = NowMs();
  EXPECT_EQ(FakeClock.calls, 1);
  EXPECT_EQ(TestRun.counting.ContValidTime, 3);  // setting the clock leaves the count alone

  // The new time is the clock now less the difference, as a UTC instant.
  int64_t set = RequestedMs();
  EXPECT_GE(set, before - 5000);
  EXPECT_LE(set, after - 5000);
  EXPECT_GE(FakeClock.milliseconds, 0);
  EXPECT_LT(FakeClock.milliseconds, 1000);

  // The log shows that instant as local date and time.
  time_t seconds = (time_t)FakeClock.seconds;
  struct tm local = *localtime(&seconds);
  char line[80];
  snprintf(line, sizeof line, "Synchronizing time to %.2d.%.2d.%.4d %.2d:%.2d:%.2d.%.3d",
           local.tm_mday, local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min,
           local.tm_sec, (int)FakeClock.milliseconds);
  EXPECT_EQ(LoggedMessages().back(), line);
}

TEST_F(SetClock, ThresholdsAreInclusive) {
  Settings.ValidDateTimeCount = 1;
  EvaluateMinutes(1, 99);  // below SynchronizeDiff: nothing, not even a message
  EXPECT_EQ(FakeClock.calls, 0);
  EXPECT_EQ(LoggedMessages().size(), 3u);
  EvaluateMinutes(1, -100, 1);  // exactly SynchronizeDiff, PC behind
  EXPECT_EQ(FakeClock.calls, 1);

  EvaluateMinutes(1, 12 * 3600000LL, 2);  // exactly SynchronizeMaxDiff hours
  EXPECT_EQ(FakeClock.calls, 2);
  EvaluateMinutes(1, 12 * 3600000LL + 1, 3);
  EXPECT_EQ(FakeClock.calls, 2);
  EXPECT_EQ(LoggedMessages().back(), "Big difference, can't synchronize time...");
}

TEST_F(SetClock, NeverSetsWhenSwitchedOffOrForInvalidTelegrams) {
  Settings.DCFSetTime = 0;
  EvaluateMinutes(5, 60000);
  EXPECT_EQ(TestRun.counting.ContValidTime, 5);
  EXPECT_EQ(FakeClock.calls, 0);

  Settings.DCFSetTime = 1;
  TimeTelegram t = Telegram(2026, 12, 8, 15, 0);
  t.valid = 0;
  HandleInTest(t);
  EXPECT_EQ(FakeClock.calls, 0);
}

TEST_F(SetClock, RefusalIsLoggedAndLeavesTheRunStatusAlone) {
  Settings.ValidDateTimeCount = 1;
  FakeClock.fail = 1;
  FakeClock.failCode = 1314;
  RunStatus = 0;
  EvaluateMinutes(1, 60000);
  EXPECT_EQ(FakeClock.calls, 1);
  EXPECT_EQ(LoggedMessages().back(), "Can't set time! errno 1314");
  EXPECT_EQ(RunStatus, 0);
}

// ---- The zones of telegram and PC around the changes of daylight-saving time.

const int64_t SpringChange = 1774746000;  // 2026-03-29 01:00 UTC: 02:00 CET becomes 03:00 CEST
const int64_t AutumnChange = 1792890000;  // 2026-10-25 01:00 UTC: 03:00 CEST becomes 02:00 CET

// A valid telegram of a local date and time in the zone its bits name, whose
// capture is the PC clock ahead of truth (UTC seconds and milliseconds) by
// aheadMs.
TimeTelegram ZoneTelegram(int month, int day, int hour, int minute, int second, bool cest,
                          int64_t truthMs, int64_t aheadMs) {
  TimeTelegram t = Telegram(2026, month, day, hour, minute, second, (int)(truthMs % 1000));
  t.Z1 = cest ? 1 : 0;
  t.Z2 = cest ? 0 : 1;
  int64_t pc = truthMs + aheadMs;
  t.capture.time = pc / 1000;
  t.capture.millitm = (uint16_t)(pc % 1000);
  return t;
}

TEST_F(SetClock, BothPassesOfTheRepeatedHourSetTheSameUtcCorrection) {
  Settings.ValidDateTimeCount = 1;
  // 02:30 CEST, then an hour later 02:30 CET; the PC 3.7 s behind each time.
  const int64_t first = (AutumnChange - 1800) * 1000, second = (AutumnChange + 1800) * 1000;
  const struct { TimeTelegram t; const char* date; } passes[] = {
      {ZoneTelegram(10, 25, 2, 30, 0, true, first, -3700), "02:30:00.000 25.10.2026"},
      {ZoneTelegram(10, 25, 2, 30, 0, false, second, -3700), "02:30:00.000 25.10.2026"}};
  for (const auto& pass : passes) {
    ResetProgramState();
    Settings.DCFSetTime = 1;
    Settings.ValidDateTimeCount = 1;
    int64_t before = NowMs();
    HandleInTest(pass.t);
    int64_t after = NowMs();
    std::vector<std::string> lines = LoggedMessages();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], std::string(pass.date) + " Unknown");
    EXPECT_EQ(lines[2], "Time diff: 0d 00:00:03.700 ContValidTime: 1");
    ASSERT_EQ(FakeClock.calls, 1);
    EXPECT_GE(RequestedMs(), before + 3700);
    EXPECT_LE(RequestedMs(), after + 3700);
  }
}

// Whether the last telegram was handed to the time daemon's feed.
int Fed = 0;

// Evaluates one telegram and carries the decision out; returns the log lines.
std::vector<std::string> EvaluateCounted(const TimeTelegram& t) {
  PollDecision decision = Decide(t, &Settings, &TestRun);
  Fed = decision.trusted;
  CarryOutDecision(&TestRun, &decision);
  return LoggedMessages();
}

TEST_F(SetClock, ThePcZoneHasNoPartOnlyTheTelegramsOwnZoneOrTheGermanRule) {
  Settings.ValidDateTimeCount = 1;
  // 08.12.2026 14:35 CET and 01.07.2026 12:00 CEST; the PC 3.7 s behind.
  const int64_t winter = 1796736900 * 1000LL, summer = 1782900000 * 1000LL;
  const struct { TimeTelegram t; int zoneBits; } telegrams[] = {
      {ZoneTelegram(12, 8, 14, 35, 0, false, winter, -3700), 1},
      {ZoneTelegram(7, 1, 12, 0, 0, true, summer, -3700), 1},
      {ZoneTelegram(12, 8, 14, 35, 0, false, winter, -3700), 0},  // Z1 = Z2 = 0
      {ZoneTelegram(7, 1, 12, 0, 0, true, summer, -3700), 0},
      {ZoneTelegram(7, 1, 12, 0, 0, true, summer, -3700), 2},     // Z1 = Z2 = 1
  };
  // The PC's own zone.
  const char* const zones[] = {"UTC0", "Europe/Berlin", "Europe/London", "America/New_York",
                               "Asia/Tokyo"};
  for (const auto& c : telegrams) {
    for (const auto& zone : zones) {
      ResetProgramState();
      Settings.DCFSetTime = 1;
      Settings.ValidDateTimeCount = 1;
      TimeTelegram t = c.t;
      if (c.zoneBits != 1) t.Z1 = t.Z2 = c.zoneBits / 2;
      ZoneScope pcZone(zone);
      int64_t before = NowMs();
      std::vector<std::string> lines = EvaluateCounted(t);
      int64_t after = NowMs();
      SCOPED_TRACE(lines[1] + " zone bits " + std::to_string(c.zoneBits) + " PC zone " +
                   zone);
      ASSERT_EQ(lines.size(), 4u);
      EXPECT_EQ(lines[2], "Time diff: 0d 00:00:03.700 ContValidTime: 1");
      EXPECT_EQ(Fed, 1);
      ASSERT_EQ(FakeClock.calls, 1);
      EXPECT_GE(RequestedMs(), before + 3700);
      EXPECT_LE(RequestedMs(), after + 3700);
    }
  }
}

TEST_F(SetClock, AcrossBothChangesTheDifferenceIsTheClocksErrorAndSets) {
  Settings.ValidDateTimeCount = 1;
  // The transmitter already in the new zone, the PC 3.7 s behind in the old,
  // or still in the old one with the PC 3.7 s ahead in the new.
  const char behind[] = "Time diff: 0d 00:00:03.700 ContValidTime: 1";
  const char ahead[] = "Time diff: -0d 00:00:03.700 ContValidTime: 1";
  const struct { TimeTelegram t; const char* difference; } cases[] = {
      {ZoneTelegram(3, 29, 3, 0, 1, true, (SpringChange + 1) * 1000, -3700), behind},
      {ZoneTelegram(3, 29, 1, 59, 58, false, (SpringChange - 2) * 1000, 3700), ahead},
      {ZoneTelegram(10, 25, 2, 0, 1, false, (AutumnChange + 1) * 1000, -3700), behind},
      {ZoneTelegram(10, 25, 2, 59, 58, true, (AutumnChange - 2) * 1000, 3700), ahead},
  };
  for (const auto& c : cases) {
    ResetProgramState();
    Settings.DCFSetTime = 1;
    Settings.ValidDateTimeCount = 1;
    std::vector<std::string> lines = EvaluateCounted(c.t);
    SCOPED_TRACE(lines[1]);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], c.difference);
    EXPECT_EQ(FakeClock.calls, 1);
    EXPECT_EQ(Fed, 1);
  }
}

TEST_F(SetClock, WithoutAZoneBitTheRepeatedHourIsLoggedAndCountedButNeitherSetNorFed) {
  Settings.ValidDateTimeCount = 1;
  // 02:30 of the autumn change day in either pass, the PC 3.7 s behind;
  // then 03:30 (CET only) and 01:30 (CEST only) set.
  const struct { int hour; int64_t truth; bool set; } cases[] = {
      {2, AutumnChange - 1800, false}, {2, AutumnChange + 1800, false},
      {3, AutumnChange + 5400, true}, {1, AutumnChange - 5400, true}};
  for (const auto& c : cases) {
    ResetProgramState();
    Settings.DCFSetTime = 1;
    Settings.ValidDateTimeCount = 1;
    for (int zoneBits : {0, 1}) {
      TimeTelegram t =
          ZoneTelegram(10, 25, c.hour, 30 + zoneBits, 0, false, (c.truth + 60 * zoneBits) * 1000,
                       -3700);
      t.Z1 = t.Z2 = zoneBits;
      std::vector<std::string> lines = EvaluateCounted(t);
      SCOPED_TRACE(lines[lines.size() - 3]);
      EXPECT_EQ(TestRun.counting.ContValidTime, 1 + zoneBits);
      // The difference shown is the nearer pass's: the PC's real error.
      EXPECT_EQ(lines.back() == "Repeated hour without time zone, can't synchronize time...",
                !c.set);
      EXPECT_NE(std::find(lines.begin(), lines.end(),
                          "Time diff: 0d 00:00:03.700 ContValidTime: " +
                              std::to_string(1 + zoneBits)),
                lines.end());
      EXPECT_EQ(Fed, c.set ? 1 : 0);
    }
    EXPECT_EQ(FakeClock.calls, c.set ? 2 : 0);
  }
}

TEST_F(SetClock, ATelegramThatNamesNoRealInstantIsLoggedAndCountedButNeverSetNorFed) {
  // Each against the PC's clock 3.7 s behind the instant its fields add up to.
  const struct { int year, month, day, hour, minute, second, weekday; int64_t truth; } cases[] = {
      {2026, 12, 8, 10, 60, 0, 2, 1796723940},   // minute 60 read at 10:59 CET
      {2026, 12, 8, 24, 0, 0, 2, 1796770800},    // hour 24, at 00:00 next day
      {2027, 2, 30, 12, 0, 0, 0, 1803985200},    // 30 February, as 2 March
      {2027, 2, 29, 12, 0, 0, 0, 1803898800},    // 29 February of a common year
      {2026, 12, 9, 12, 0, 0, 2, 1796814000},    // Wednesday's date, Tuesday's weekday
      {2026, 12, 8, 12, 0, 60, 2, 1796727660},   // second 60
  };
  for (const auto& c : cases) {
    for (int cutOff : {0, 1}) {  // with SynchronizeMaxDiff in reach, and then not
      ResetProgramState();
      Settings.DCFSetTime = 1;
      Settings.ValidDateTimeCount = 1;
      Settings.SynchronizeMaxDiff = cutOff ? 0 : 100;
      TimeTelegram t = Telegram(c.year, c.month, c.day, c.hour, c.minute, c.second, 0, c.weekday);
      CaptureAt(t, c.truth - 86400 * cutOff, -3700);
      std::vector<std::string> lines = EvaluateCounted(t);
      SCOPED_TRACE(lines[1]);
      ASSERT_EQ(lines.size(), 4u);
      EXPECT_EQ(TestRun.counting.ContValidTime, 1);
      EXPECT_EQ(lines[2].substr(0, 11), "Time diff: ");
      EXPECT_EQ(lines[3], cutOff ? std::string("Big difference, can't synchronize time...")
                                 : "Can't set time! errno " +
                                       std::to_string(InvalidTimeErrorCode()));
      EXPECT_EQ(FakeClock.calls, 0);
      EXPECT_EQ(Fed, 0);
    }
  }
  // Not set either when clock setting is off: nothing more is logged.
  ResetProgramState();
  TimeTelegram t = Telegram(2026, 12, 8, 10, 60, 0, 0, 2);
  CaptureAt(t, 1796723940, 0);
  EXPECT_EQ(EvaluateCounted(t).size(), 3u);
  EXPECT_EQ(Fed, 0);
}

// The pure decision alone: plain values in, a decision out, nothing logged,
// set or fed. Each step: a telegram of 08.12.2026 14:mm:ss CET whose
// fields are shifted by shiftMin minutes (a corrupted telegram), captured
// with the PC aheadMs ahead at monotonic time atS seconds.
struct DecisionStep {
  int minute, second;
  int shiftMin;      // minutes the telegram's fields are off the truth
  int64_t aheadMs;   // the PC clock ahead of the truth
  int millisecond;   // as received
  int counted, trusted, set;
  const char* extra;  // the line after "Time diff", or ""
};

void RunDecisionSteps(const std::vector<DecisionStep>& steps, int32_t validCount,
                      DisciplineState* discipline = NULL) {
  SettingsRecord settings;
  DefaultSettings(&settings);
  settings.DCFSetTime = 1;
  settings.ValidDateTimeCount = validCount;
  RunState run;
  ResetRunState(&run);
  int32_t count = 0;
  for (size_t i = 0; i < steps.size(); ++i) {
    const DecisionStep& step = steps[i];
    SCOPED_TRACE(i);
    int64_t truthS = 1796736900 + 60 * (step.minute - 35) + step.second;  // 14:35 CET on
    int fieldMinutes = 14 * 60 + step.minute + step.shiftMin;
    TimeTelegram t = Telegram(2026, 12, 8, fieldMinutes / 60, fieldMinutes % 60, step.second,
                              step.millisecond);
    int64_t pcMs = truthS * 1000 + (step.millisecond < 1000 ? step.millisecond : 0) + step.aheadMs;
    t.capture.time = pcMs / 1000;
    t.capture.millitm = (uint16_t)(pcMs % 1000);
    PollDecision d;
    StartDecision(&d);
    DecideTelegram(&t, truthS * 1000 + 7, &settings, &run.counting, &run.chain, discipline, &d);
    if (step.counted) ++count;
    EXPECT_EQ(run.counting.ContValidTime, count);
    ASSERT_EQ(d.lineCount, step.extra[0] ? 4 : 3);
    EXPECT_EQ(std::string(d.lines[2]).rfind("Time diff: ", 0), 0u) << d.lines[2];
    if (step.extra[0]) {
      EXPECT_STREQ(d.lines[3], step.extra);
    }
    EXPECT_EQ(d.trusted, step.trusted);
    EXPECT_EQ(d.setClock, step.set);
    EXPECT_EQ(d.discipline, discipline != NULL && step.trusted ? 1 : 0);
    int64_t shiftMs = step.shiftMin * 60000LL;
    EXPECT_EQ(d.sample.offsetMs, (double)(shiftMs - step.aheadMs));
    if (step.trusted) {
      EXPECT_EQ(d.sample.referenceMs, truthS * 1000 + shiftMs + step.millisecond);
      EXPECT_EQ(d.sample.captureMonoMs, truthS * 1000 + 7);
      EXPECT_EQ(d.sample.capture.time * 1000 + d.sample.capture.millitm, pcMs);
    }
  }
}

const char NewChain[] = "Telegram disagrees with the one before, new chain";

TEST(Decision, CountingTrustAndTheSet) {
  const std::string cannotSet = "Can't set time! errno " + std::to_string(InvalidTimeErrorCode());
  for (const char* zone : {"UTC0", "Europe/London", "America/New_York", "Europe/Berlin"}) {
    ZoneScope pcZone(zone);
    SCOPED_TRACE(zone);
    RunDecisionSteps({{35, 0, 0, 5000, 0, 1, 0, 0, ""},     // counted 1 of 2
                      {36, 0, 0, 5000, 0, 1, 1, 1, ""},     // trusted and set
                      {36, 30, 0, 5000, 0, 0, 1, 1, ""},    // same minute: still trusted
                      {37, 0, 0, 50, 0, 1, 1, 0, ""},       // below SynchronizeDiff
                      {38, 0, 0, 13 * 3600000LL, 0, 1, 1, 0,
                       "Big difference, can't synchronize time..."},
                      {39, 0, 0, 5000, 1000, 1, 0, 0,       // hundredths 100: no instant
                       cannotSet.c_str()}},
                     2);
  }
}

TEST(Decision, TelegramsMustAgreeWithTheChainBeforeTheyAreTrusted) {
  for (const char* zone : {"UTC0", "Europe/London", "America/New_York", "Europe/Berlin"}) {
    ZoneScope pcZone(zone);
    SCOPED_TRACE(zone);
    // Good, good, an hour off (parity-valid), good, good, two minutes off,
    // good until the chain holds two again.
    RunDecisionSteps({{35, 0, 0, 5000, 0, 1, 0, 0, ""},
                      {36, 0, 0, 5000, 0, 1, 1, 1, ""},
                      {37, 0, -60, 5000, 0, 1, 0, 0, NewChain},
                      {37, 30, 0, 5000, 0, 1, 0, 0, NewChain},  // back: a chain of one
                      {38, 0, 0, 5000, 0, 1, 1, 1, ""},
                      {39, 0, 2, 5000, 0, 1, 0, 0, NewChain},
                      {39, 30, 2, 5000, 0, 0, 0, 0, ""},        // agrees with it alone
                      {40, 0, 0, 5000, 0, 1, 0, 0, NewChain},
                      {40, 30, 0, 5000, 0, 0, 0, 0, ""},        // a chain of one: not yet
                      {41, 0, 0, 5000, 0, 1, 1, 1, ""}},
                     2);
  }
}

TEST(Decision, OneTelegramIsTrustedAloneAtACountOfOne) {
  RunDecisionSteps({{35, 0, 0, 5000, 0, 1, 1, 1, ""},
                    {36, 0, -60, 5000, 0, 1, 1, 1, NewChain},  // an hour off: as asked
                    {37, 0, 0, 5000, 0, 1, 1, 1, NewChain}},
                   1);
}

TEST(Decision, TheDisciplineTakesTrustedSamplesAndChoosesTheStep) {
  DisciplineState discipline;
  ResetDiscipline(&discipline, 0.0, SlewAtKernelRate);
  RunDecisionSteps({{35, 0, 0, 30, 0, 1, 1, 0, ""},      // below SynchronizeDiff: a sample
                    {36, 0, 0, 30, 0, 1, 1, 0, ""},
                    {37, 0, 0, 5000, 0, 1, 1, 1, ""}},   // beyond: the discipline steps
                   1, &discipline);
  EXPECT_EQ(discipline.count, 0);  // the step empties the window
}

TEST(Decision, InvalidTelegramsBreakTheCountAndTheChain) {
  SettingsRecord settings;
  DefaultSettings(&settings);
  RunState run;
  ResetRunState(&run);
  TimeTelegram good = Telegram(2026, 12, 8, 14, 35);
  CaptureAt(good, 1796736900, 0);
  PollDecision d;
  StartDecision(&d);
  DecideTelegram(&good, 0, &settings, &run.counting, &run.chain, NULL, &d);
  EXPECT_EQ(run.chain.length, 1);
  TimeTelegram bad = Telegram(2026, 12, 8, 14, 36);
  bad.valid = 0;
  StartDecision(&d);
  DecideTelegram(&bad, 60000, &settings, &run.counting, &run.chain, NULL, &d);
  EXPECT_EQ(d.lineCount, 2);
  EXPECT_EQ(d.trusted + d.setClock, 0);
  EXPECT_EQ(run.counting.ContValidTime, 0);
  EXPECT_EQ(run.counting.minute, 35);
  EXPECT_EQ(run.chain.length, 0);
}

}  // namespace
