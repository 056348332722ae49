// The sample a telegram gives the time daemon: reference time in UTC from
// the telegram's own zone bits, system time from the capture, the leap
// indicator around the end of June and December, and the telegrams that
// cannot be fed at all.
#include <gtest/gtest.h>

#include <string>

#include "clock/calendar.h"
#include "clock/evaluate.h"
#include "refclock/refclock.h"
#include "support/testutil.h"

namespace {

// A valid telegram of local date and time in the zone the bits name
// ("CET": Z2, "CEST": Z1), captured at the given PC clock reading.
TimeTelegram Telegram(const std::string& zone, int year, int month, int day, int hour,
                      int minute, int second = 0, int millisecond = 0) {
  TimeTelegram t = {};
  t.S = 1;
  t.Z1 = zone == "CEST" ? 1 : 0;
  t.Z2 = zone == "CET" ? 1 : 0;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  t.millisecond = millisecond;
  t.valid = 1;
  return t;
}

// The time daemon's sample of telegram alone (a count of one) through the
// poll's decision: 0 when the decision does not trust it or the feed cannot
// take it.
int MakeSample(TimeTelegram telegram, ReferenceSample* sample) {
  SettingsRecord settings;
  DefaultSettings(&settings);
  settings.ValidDateTimeCount = 1;
  CountingState counting;
  ResetCountingState(&counting);
  ChainState chain = {};
  PollDecision decision;
  StartDecision(&decision);
  DecideTelegram(&telegram, 0, &settings, &counting, &chain, NULL, &decision);
  return decision.trusted && MakeReferenceSample(&decision.sample, sample);
}

// UTC seconds since 1970 of a date and time, counted day by day from the
// month lengths: a model independent of the calendar's days from a date.
int64_t CountedUtc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  int64_t days = 0;
  for (int y = 1970; y < year; ++y) days += IsLeapYear(y) ? 366 : 365;
  for (int m = 1; m < month; ++m) days += MonthLength(year, m);
  days += day - 1;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}

TEST(ReferenceSample, ZoneBitsTurnTheTelegramIntoUtc) {
  ReferenceSample s;
  // CET is UTC+1: 09.12.2026 08:15:30.250 CET is 07:15:30.250 UTC.
  ASSERT_EQ(1, MakeSample(Telegram("CET", 2026, 12, 9, 8, 15, 30, 250), &s));
  EXPECT_EQ(CountedUtc(2026, 12, 9, 7, 15, 30), s.referenceSeconds);
  EXPECT_EQ(250000000, s.referenceNanoseconds);
  // CEST is UTC+2: 01.07.2026 01:30:00 CEST is 30.06.2026 23:30:00 UTC.
  ASSERT_EQ(1, MakeSample(Telegram("CEST", 2026, 7, 1, 1, 30), &s));
  EXPECT_EQ(CountedUtc(2026, 6, 30, 23, 30), s.referenceSeconds);
  // New Year's first hour in CET is still the old year in UTC.
  ASSERT_EQ(1, MakeSample(Telegram("CET", 2027, 1, 1, 0, 0, 5), &s));
  EXPECT_EQ(CountedUtc(2026, 12, 31, 23, 0, 5), s.referenceSeconds);
  // The first minute a receiver can tell: 01.01.1970 01:00 CET is 0.
  ASSERT_EQ(1, MakeSample(Telegram("CET", 1970, 1, 1, 1, 0), &s));
  EXPECT_EQ(0, s.referenceSeconds);
}

TEST(ReferenceSample, ThePcZoneDoesNotMatterOnlyTheTelegramsBits) {
  // The same telegram and the same PC clock reading on a server kept in UTC,
  // in German time with and without daylight saving, and far away: one
  // sample, whatever the PC's zone.
  TimeTelegram t = Telegram("CEST", 2026, 8, 3, 14, 0, 10, 120);
  t.capture.time = CountedUtc(2026, 8, 3, 12, 0, 10);
  t.capture.millitm = 20;
  for (const char* zone : {"UTC0", "Europe/Berlin", "Europe/London", "America/New_York"}) {
    ZoneScope pcZone(zone);
    ReferenceSample s;
    ASSERT_EQ(1, MakeSample(t, &s)) << zone;
    EXPECT_EQ(CountedUtc(2026, 8, 3, 12, 0, 10), s.referenceSeconds);
    EXPECT_EQ(120000000, s.referenceNanoseconds);
    EXPECT_EQ(t.capture.time, s.systemSeconds);
    EXPECT_EQ(20000000, s.systemNanoseconds);
    EXPECT_DOUBLE_EQ(0.1, s.offset) << "the PC was 100 ms behind";
  }
}

TEST(ReferenceSample, OffsetIsReferenceMinusSystemAcrossSecondsAndFar) {
  TimeTelegram t = Telegram("CET", 2026, 12, 9, 8, 0, 0, 0);
  int64_t utc = CountedUtc(2026, 12, 9, 7, 0, 0);
  ReferenceSample s;
  // The PC 110 ms ahead, across the second: reference .000, system .110.
  t.capture.time = utc;
  t.capture.millitm = 110;
  ASSERT_EQ(1, MakeSample(t, &s));
  EXPECT_NEAR(-0.110, s.offset, 1e-9);
  // The PC 0.9 s behind: system one second earlier, at .100.
  t.capture.time = utc - 1;
  t.capture.millitm = 100;
  ASSERT_EQ(1, MakeSample(t, &s));
  EXPECT_NEAR(0.900, s.offset, 1e-9);
  // Hours apart are fed as they are: the daemon judges them.
  t.capture.time = utc + 3 * 3600;
  t.capture.millitm = 0;
  ASSERT_EQ(1, MakeSample(t, &s));
  EXPECT_EQ(-10800.0, s.offset);
  // A PC clock at 0 (1970) against a telegram of 2026.
  t.capture.time = 0;
  ASSERT_EQ(1, MakeSample(t, &s));
  EXPECT_EQ((double)utc, s.offset);
}

TEST(ReferenceSample, WithoutAZoneBitTheGermanRuleDecidesButNotInTheRepeatedHour) {
  ReferenceSample s;
  // Z1 = Z2, both set or both clear: CET in December, CEST in August.
  for (int bits : {0, 1}) {
    TimeTelegram winter = Telegram("CET", 2026, 12, 9, 8, 0);
    winter.Z1 = winter.Z2 = bits;
    ASSERT_EQ(1, MakeSample(winter, &s)) << bits;
    EXPECT_EQ(CountedUtc(2026, 12, 9, 7, 0), s.referenceSeconds);
    TimeTelegram summer = Telegram("CEST", 2026, 8, 3, 14, 0);
    summer.Z1 = summer.Z2 = bits;
    ASSERT_EQ(1, MakeSample(summer, &s)) << bits;
    EXPECT_EQ(CountedUtc(2026, 8, 3, 12, 0), s.referenceSeconds);
    // 02:30 on the autumn change day comes twice; on the spring one never.
    EXPECT_EQ(0, MakeSample(Telegram("none", 2026, 10, 25, 2, 30), &s));
    EXPECT_EQ(0, MakeSample(Telegram("none", 2026, 3, 29, 2, 30), &s));
    EXPECT_EQ(1, MakeSample(Telegram("none", 2026, 10, 25, 3, 0), &s));
    EXPECT_EQ(CountedUtc(2026, 10, 25, 2, 0), s.referenceSeconds);
  }
  // With its zone bit the repeated hour is fed: CEST's pass, then CET's.
  ASSERT_EQ(1, MakeSample(Telegram("CEST", 2026, 10, 25, 2, 30), &s));
  EXPECT_EQ(CountedUtc(2026, 10, 25, 0, 30), s.referenceSeconds);
  ASSERT_EQ(1, MakeSample(Telegram("CET", 2026, 10, 25, 2, 30), &s));
  EXPECT_EQ(CountedUtc(2026, 10, 25, 1, 30), s.referenceSeconds);
}

TEST(ReferenceSample, TelegramsThatNameNoRealInstantAreNotFed) {
  ReferenceSample s;
  TimeTelegram weekday = Telegram("CET", 2026, 12, 9, 8, 0);
  weekday.weekday = 2;  // 09.12.2026 is a Wednesday
  EXPECT_EQ(0, MakeSample(weekday, &s)) << "weekday not the date's";
  weekday.weekday = 3;
  EXPECT_EQ(1, MakeSample(weekday, &s)) << "the date's own weekday";

  struct Case {
    const char* what;
    int year, month, day, hour, minute, second, millisecond;
  };
  const Case bad[] = {
      {"year before 1970", 1969, 12, 31, 23, 0, 0, 0},
      {"month 0", 2026, 0, 1, 8, 0, 0, 0},
      {"month 13", 2026, 13, 1, 8, 0, 0, 0},
      {"day 0", 2026, 5, 0, 8, 0, 0, 0},
      {"31 April", 2026, 4, 31, 8, 0, 0, 0},
      {"29 February of a common year", 2026, 2, 29, 8, 0, 0, 0},
      {"29 February 2100", 2100, 2, 29, 8, 0, 0, 0},
      {"hour 24", 2026, 5, 1, 24, 0, 0, 0},
      {"hour -1", 2026, 5, 1, -1, 0, 0, 0},
      {"minute 60", 2026, 5, 1, 8, 60, 0, 0},
      {"second 60, the leap second", 2026, 12, 31, 0, 59, 60, 0},
      {"second -1", 2026, 5, 1, 8, 0, -1, 0},
      {"millisecond -10", 2026, 5, 1, 8, 0, 0, -10},
      {"millisecond 1000", 2026, 5, 1, 8, 0, 0, 1000},
      {"year 10000", 10000, 5, 1, 8, 0, 0, 0},
  };
  for (const Case& c : bad) {
    EXPECT_EQ(0, MakeSample(Telegram("CET", c.year, c.month, c.day, c.hour, c.minute,
                                              c.second, c.millisecond),
                                     &s))
        << c.what;
  }
  TimeTelegram capture = Telegram("CET", 2026, 5, 1, 8, 0);
  capture.capture.millitm = 1000;
  EXPECT_EQ(0, MakeSample(capture, &s)) << "capture milliseconds 1000";

  // The edges that are real instants are fed.
  const Case good[] = {
      {"29 February 2028", 2028, 2, 29, 8, 0, 0, 0},
      {"29 February 2000", 2000, 2, 29, 8, 0, 0, 0},
      {"31 December 23:59:59.999", 2026, 12, 31, 23, 59, 59, 999},
      {"year 9999", 9999, 12, 31, 23, 59, 59, 0},
  };
  for (const Case& c : good) {
    EXPECT_EQ(1, MakeSample(Telegram("CET", c.year, c.month, c.day, c.hour, c.minute,
                                              c.second, c.millisecond),
                                     &s))
        << c.what;
  }
}

// The leap indicator of a telegram with A2 set (or clear).
int LeapOf(TimeTelegram t, int a2 = 1) {
  t.A2 = a2;
  ReferenceSample s;
  EXPECT_EQ(1, MakeSample(t, &s));
  return s.leap;
}

TEST(ReferenceSample, LeapIsAnnouncedOnlyInTheLastUtcHourOfJuneAndDecember) {
  // 31 December: the leap second follows 00:59:59 CET on 1 January, and the
  // hour before it is 00:00:00-00:59:59 CET (23:00-23:59:59 UTC).
  EXPECT_EQ(LeapNone, LeapOf(Telegram("CET", 2026, 12, 31, 23, 59, 59, 990)));
  EXPECT_EQ(LeapInsert, LeapOf(Telegram("CET", 2027, 1, 1, 0, 0, 0)));
  EXPECT_EQ(LeapInsert, LeapOf(Telegram("CET", 2027, 1, 1, 0, 59, 59, 990)));
  EXPECT_EQ(LeapNone, LeapOf(Telegram("CET", 2027, 1, 1, 1, 0, 0)));
  // 30 June: the leap second follows 01:59:59 CEST on 1 July.
  EXPECT_EQ(LeapNone, LeapOf(Telegram("CEST", 2026, 7, 1, 0, 59, 59, 990)));
  EXPECT_EQ(LeapInsert, LeapOf(Telegram("CEST", 2026, 7, 1, 1, 0, 0)));
  EXPECT_EQ(LeapInsert, LeapOf(Telegram("CEST", 2026, 7, 1, 1, 59, 59, 990)));
  EXPECT_EQ(LeapNone, LeapOf(Telegram("CEST", 2026, 7, 1, 2, 0, 0)));
  // The zone bits decide the hour: 00:30 on 1 July is 23:30 UTC in CET but
  // 22:30 UTC in CEST.
  EXPECT_EQ(LeapInsert, LeapOf(Telegram("CET", 2026, 7, 1, 0, 30)));
  EXPECT_EQ(LeapNone, LeapOf(Telegram("CEST", 2026, 7, 1, 0, 30)));
  // Without A2 nothing is announced, even in the hour.
  EXPECT_EQ(LeapNone, LeapOf(Telegram("CET", 2027, 1, 1, 0, 30), 0));
  EXPECT_EQ(LeapNone, LeapOf(Telegram("CEST", 2026, 7, 1, 1, 30), 0));
  // A2 at the end of other months, and at the hour of another day.
  EXPECT_EQ(LeapNone, LeapOf(Telegram("CEST", 2026, 4, 1, 1, 30)));
  EXPECT_EQ(LeapNone, LeapOf(Telegram("CEST", 2026, 10, 1, 1, 30)));
  EXPECT_EQ(LeapNone, LeapOf(Telegram("CET", 2026, 12, 1, 0, 30)));
  EXPECT_EQ(LeapNone, LeapOf(Telegram("CET", 2026, 12, 30, 0, 30)));
  EXPECT_EQ(LeapNone, LeapOf(Telegram("CEST", 2026, 6, 30, 1, 30)));
  // The window is found in leap years and at the first date a receiver tells.
  EXPECT_EQ(LeapInsert, LeapOf(Telegram("CET", 2028, 1, 1, 0, 10)));
  EXPECT_EQ(LeapInsert, LeapOf(Telegram("CEST", 2028, 7, 1, 1, 10)));
  EXPECT_EQ(LeapNone, LeapOf(Telegram("CET", 1970, 1, 1, 1, 0)));
}

}  // namespace
