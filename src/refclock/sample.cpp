// The sample of a trusted telegram for the time daemon: its UTC instant, the
// system time at capture, the leap indicator.
#include "refclock/refclock.h"

#include "clock/calendar.h"
#include "clock/evaluate.h"

// 1 when utc (seconds since 1970) lies in the last hour of a day on which a
// leap second may be inserted and which ends within a day of the telegram's
// date: 30 June or 31 December of year (UTC), or 31 December of the year
// before.
static int InLastHourBeforeLeap(int64_t utc, int32_t year) {
  const int64_t ends[] = {DaysFromCivil(year, 1, 1), DaysFromCivil(year, 7, 1),
                          DaysFromCivil((int64_t)year + 1, 1, 1)};
  for (int64_t day : ends) {
    int64_t end = day * SecondsPerDay;
    if (utc >= end - SecondsPerHour && utc < end) return 1;
  }
  return 0;
}

int MakeReferenceSample(const TelegramSample* in, ReferenceSample* sample) {
  if (in->referenceMs < 0 || in->capture.millitm > 999) return 0;
  sample->referenceSeconds = in->referenceMs / 1000;
  sample->referenceNanoseconds = (int32_t)(in->referenceMs % 1000) * 1000000;
  sample->systemSeconds = in->capture.time;
  sample->systemNanoseconds = (int32_t)in->capture.millitm * 1000000;
  int32_t year = (int32_t)CivilFromDays(FloorDivide(sample->referenceSeconds, SecondsPerDay)).year;
  sample->leap = in->leapAnnounced != 0 && InLastHourBeforeLeap(sample->referenceSeconds, year)
                     ? LeapInsert
                     : LeapNone;
  // Whole seconds apart first, in doubles (exact for any capture a clock can
  // give, and no overflow for any other), the fraction added after.
  sample->offset =
      ((double)sample->referenceSeconds - (double)sample->systemSeconds) +
      (double)(sample->referenceNanoseconds - sample->systemNanoseconds) / 1e9;
  return 1;
}
