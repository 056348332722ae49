// The calendar: civil dates against counting day by day, month lengths, the real
// date check, and German legal time against UTC around both changes.
#include <gtest/gtest.h>

#include "clock/calendar.h"

namespace {

// The calendar's model, written out independently: leap years and month
// lengths by the rule, days counted one by one.
bool Leap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int Length(int64_t y, int m) {
  static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return lengths[m - 1] + (m == 2 && Leap(y) ? 1 : 0);
}

// UTC seconds of a date and time from 1970 on.
int64_t Utc(int year, int month, int day, int hour = 0, int minute = 0) {
  int64_t days = 0;
  for (int y = 1970; y < year; ++y) days += Leap(y) ? 366 : 365;
  for (int m = 1; m < month; ++m) days += Length(year, m);
  return (days + day - 1) * 86400 + hour * 3600 + minute * 60;
}

TEST(Calendar, DaysAndWeekdaysMatchCountingDayByDayFrom1900To2400) {
  // 1900-01-01, a Monday, is 25567 days before 1970-01-01.
  int64_t year = 1900;
  int month = 1, day = 1, weekday = 1;
  for (int64_t days = -25567; year <= 2400; ++days) {
    CivilDate d = CivilFromDays(days);
    ASSERT_EQ(d.year * 10000 + d.month * 100 + d.day, year * 10000 + month * 100 + day);
    ASSERT_EQ(DaysFromCivil(year, month, day), days);
    ASSERT_EQ(WeekdayOfDays(days), weekday);
    ASSERT_EQ(MonthLength(year, month), Length(year, month));
    weekday = weekday % 7 + 1;
    if (++day > Length(year, month)) {
      day = 1;
      if (++month > 12) month = 1, ++year;
    }
  }
  // Far from 1970, both ways, and back.
  EXPECT_EQ(-719468, DaysFromCivil(0, 3, 1));
  for (int64_t y : {-400LL, 1LL, 9999LL, 2147483647LL, 2147483648LL}) {
    CivilDate d = CivilFromDays(DaysFromCivil(y, 2, 28) + 1);
    EXPECT_EQ(d.year, y);
    EXPECT_EQ(d.month * 100 + d.day, Leap(y) ? 229 : 301) << y;
  }
  EXPECT_EQ(-1, FloorDivide(-1, 7));
  EXPECT_EQ(-1, FloorDivide(-7, 7));
  EXPECT_EQ(1, FloorDivide(7, 7));
}

TEST(Calendar, MonthLengthsCountLeapYears) {
  const struct { int64_t year; int32_t month, length; } cases[] = {
      {2024, 2, 29}, {2000, 2, 29}, {1900, 2, 28}, {2100, 2, 28}, {2027, 2, 28},
      {2026, 1, 31}, {2026, 4, 30}, {2026, 12, 31}, {2026, 0, 0}, {2026, 13, 0}};
  for (const auto& c : cases) EXPECT_EQ(MonthLength(c.year, c.month), c.length) << c.year << c.month;
}

TEST(Calendar, RealDateTimeNeedsEveryFieldInRangeAndTheDatesOwnWeekday) {
  // 08.12.2026 is a Tuesday (2).
  const struct { int64_t year; int32_t month, day, hour, minute, second, weekday; int real; } cases[] = {
      {2026, 12, 8, 14, 35, 17, 2, 1},  {2026, 12, 8, 14, 35, 17, 0, 1},   // 0: unknown
      {2026, 12, 8, 14, 35, 17, 3, 0},  {2026, 12, 9, 14, 35, 17, 2, 0},   // weekday disagrees
      {2026, 12, 8, 14, 60, 0, 2, 0},   {2026, 12, 8, 24, 0, 0, 2, 0},     // minute 60, hour 24
      {2026, 12, 8, 14, 35, 60, 2, 0},  {2026, 12, 8, -1, 35, 0, 2, 0},
      {2027, 2, 30, 12, 0, 0, 0, 0},    {2027, 2, 29, 12, 0, 0, 0, 0},     // 30 Feb, 29 Feb 2027
      {2028, 2, 29, 12, 0, 0, 2, 1},    {2026, 13, 1, 0, 0, 0, 0, 0},
      {2026, 0, 1, 0, 0, 0, 0, 0},      {2026, 12, 0, 0, 0, 0, 0, 0},
      {2026, 12, 32, 0, 0, 0, 0, 0},    {10000, 1, 1, 0, 0, 0, 0, 0},
      {2026, 12, 8, 23, 59, 59, 8, 0},  {2026, 12, 13, 0, 0, 0, 7, 1}};   // Sunday is 7
  for (const auto& c : cases) {
    EXPECT_EQ(NamesRealDateTime(c.year, c.month, c.day, c.hour, c.minute, c.second, c.weekday),
              c.real)
        << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute << ":"
        << c.second << " weekday " << c.weekday;
  }
}

TEST(Calendar, GermanLegalTimeChangesOnTheLastSundaysAtOneUtc) {
  const int changes[][5] = {{2024, 3, 31, 10, 27}, {2026, 3, 29, 10, 25}, {2027, 3, 28, 10, 31}};
  for (const auto& c : changes) {
    EXPECT_EQ(CestStartUtc(c[0]), Utc(c[0], c[1], c[2], 1)) << c[0];
    EXPECT_EQ(CestEndUtc(c[0]), Utc(c[0], c[3], c[4], 1)) << c[0];
  }
  const int64_t spring = Utc(2026, 3, 29, 1), autumn = Utc(2026, 10, 25, 1);
  EXPECT_EQ(0, IsCestAt(spring - 1));
  EXPECT_EQ(1, IsCestAt(spring));
  EXPECT_EQ(1, IsCestAt(autumn - 1));
  EXPECT_EQ(0, IsCestAt(autumn));

  // Local German time (as seconds read as UTC) to the instants that show it.
  const struct { int64_t local; int found; int64_t first, second; } cases[] = {
      {Utc(2026, 12, 8, 14, 35), 1, Utc(2026, 12, 8, 13, 35), 0},      // winter: CET
      {Utc(2026, 7, 1, 12), 1, Utc(2026, 7, 1, 10), 0},                 // summer: CEST
      {Utc(2026, 3, 29, 1, 59), 1, spring - 60, 0},                     // last CET minute
      {Utc(2026, 3, 29, 2, 0), 0, 0, 0},                                // skipped hour
      {Utc(2026, 3, 29, 2, 59), 0, 0, 0},
      {Utc(2026, 3, 29, 3, 0), 1, spring, 0},                           // first CEST minute
      {Utc(2026, 10, 25, 1, 59), 1, autumn - 3660, 0},
      {Utc(2026, 10, 25, 2, 0), 2, autumn - 3600, autumn},              // repeated hour
      {Utc(2026, 10, 25, 2, 59), 2, autumn - 60, autumn + 3540},
      {Utc(2026, 10, 25, 3, 0), 1, autumn + 3600, 0},
  };
  for (const auto& c : cases) {
    int64_t first = -1, second = -1;
    ASSERT_EQ(GermanLocalToUtc(c.local, &first, &second), c.found) << c.local;
    if (c.found >= 1) {
      EXPECT_EQ(first, c.first) << c.local;
    }
    if (c.found == 2) {
      EXPECT_EQ(second, c.second) << c.local;
    }
  }
}

}  // namespace
