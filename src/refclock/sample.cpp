// The sample of a telegram for the time daemon: reference time in UTC from
// the telegram's own zone bits, the system time at capture, the leap
// indicator.
#include "refclock/refclock.h"

#include "clock/evaluate.h"

enum : int64_t { SecondsPerDay = 86400, SecondsPerHour = 3600 };

int64_t DaysSince1970(int32_t year, int32_t month, int32_t day) {
  // Years counted from March, so that the leap day ends the year: March 1st
  // of year y is day 0 of year y; January and February belong to y - 1.
  int64_t y = (int64_t)year - (month <= 2 ? 1 : 0);
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yearOfEra = y - era * 400;                              // 0..399
  int64_t monthFromMarch = month > 2 ? month - 3 : month + 9;      // 0..11
  int64_t dayOfYear = (153 * monthFromMarch + 2) / 5 + day - 1;   // 0..365
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;  // 719468: 0000-03-01 to 1970-01-01
}

// 1 when utc (seconds since 1970) lies in the last hour of a day on which a
// leap second may be inserted and which ends within a day of the telegram's
// date: 30 June or 31 December of year, or 31 December of the year before.
static int InLastHourBeforeLeap(int64_t utc, int32_t year) {
  const int64_t ends[] = {DaysSince1970(year, 1, 1), DaysSince1970(year, 7, 1),
                          DaysSince1970(year + 1, 1, 1)};
  for (int64_t day : ends) {
    int64_t end = day * SecondsPerDay;
    if (utc >= end - SecondsPerHour && utc < end) return 1;
  }
  return 0;
}

int MakeReferenceSample(TimeTelegram telegram, ReferenceSample* sample) {
  if ((telegram.Z1 != 0) == (telegram.Z2 != 0)) return 0;
  // A year beyond 9999 is no date a receiver sends, and keeps the arithmetic
  // far from any overflow.
  if (telegram.year < 1970 || telegram.year > 9999) return 0;
  if (telegram.month < 1 || telegram.month > 12) return 0;
  int32_t monthLength = DaysInMonth[IsLeapYear((uint32_t)telegram.year)][telegram.month - 1];
  if (telegram.day < 1 || telegram.day > monthLength) return 0;
  if (telegram.hour < 0 || telegram.hour > 23) return 0;
  if (telegram.minute < 0 || telegram.minute > 59) return 0;
  if (telegram.second < 0 || telegram.second > 59) return 0;
  if (telegram.millisecond < 0 || telegram.millisecond > 999) return 0;
  if (telegram.capture.millitm > 999) return 0;

  int64_t zoneHours = telegram.Z1 != 0 ? 2 : 1;  // CEST: UTC+2, CET: UTC+1
  int64_t local = DaysSince1970(telegram.year, telegram.month, telegram.day) * SecondsPerDay +
                  (int64_t)telegram.hour * SecondsPerHour + (int64_t)telegram.minute * 60 +
                  telegram.second;
  sample->referenceSeconds = local - zoneHours * SecondsPerHour;
  sample->referenceNanoseconds = telegram.millisecond * 1000000;
  sample->systemSeconds = telegram.capture.time;
  sample->systemNanoseconds = (int32_t)telegram.capture.millitm * 1000000;
  sample->leap = telegram.A2 != 0 && InLastHourBeforeLeap(sample->referenceSeconds, telegram.year)
                     ? LeapInsert
                     : LeapNone;
  // Whole seconds apart first, in doubles (exact for any capture a clock can
  // give, and no overflow for any other), the fraction added after.
  sample->offset =
      ((double)sample->referenceSeconds - (double)sample->systemSeconds) +
      (double)(sample->referenceNanoseconds - sample->systemNanoseconds) / 1e9;
  return 1;
}
