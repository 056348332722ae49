// The sample of a telegram for the time daemon: reference time in UTC from
// the telegram's own zone bits, the system time at capture, the leap
// indicator.
#include "refclock/refclock.h"

#include "clock/calendar.h"
#include "clock/evaluate.h"

// 1 when utc (seconds since 1970) lies in the last hour of a day on which a
// leap second may be inserted and which ends within a day of the telegram's
// date: 30 June or 31 December of year, or 31 December of the year before.
static int InLastHourBeforeLeap(int64_t utc, int32_t year) {
  const int64_t ends[] = {DaysFromCivil(year, 1, 1), DaysFromCivil(year, 7, 1),
                          DaysFromCivil((int64_t)year + 1, 1, 1)};
  for (int64_t day : ends) {
    int64_t end = day * SecondsPerDay;
    if (utc >= end - SecondsPerHour && utc < end) return 1;
  }
  return 0;
}

int MakeReferenceSample(TimeTelegram telegram, ReferenceSample* sample) {
  TelegramInstant instant = TelegramUtc(&telegram);
  if (instant.kind != InstantExact) return 0;
  if (telegram.year < 1970) return 0;
  if (telegram.capture.millitm > 999) return 0;

  // Whole milliseconds, exact in a double for every year a telegram holds.
  sample->referenceSeconds = ((int64_t)instant.utcMs - telegram.millisecond) / 1000;
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
