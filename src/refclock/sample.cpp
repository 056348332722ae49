// The time daemon's sample of a trusted telegram.
#include "refclock/refclock.h"

#include "clock/calendar.h"
#include "clock/evaluate.h"

// 1 when utc lies in the last hour of 30 June or 31 December, where a leap
// second may be inserted.
static int InLastHourBeforeLeap(int64_t utc) {
  int64_t nextDay = FloorDivide(utc, SecondsPerDay) + 1;
  CivilDate next = CivilFromDays(nextDay);
  return next.day == 1 && (next.month == 1 || next.month == 7) &&
         utc >= nextDay * SecondsPerDay - SecondsPerHour;
}

int MakeReferenceSample(const TelegramSample* in, ReferenceSample* sample) {
  if (in->referenceMs < 0 || in->capture.millitm > 999) return 0;
  sample->referenceSeconds = in->referenceMs / 1000;
  sample->referenceNanoseconds = (int32_t)(in->referenceMs % 1000) * 1000000;
  sample->systemSeconds = in->capture.time;
  sample->systemNanoseconds = (int32_t)in->capture.millitm * 1000000;
  sample->leap = in->leapAnnounced != 0 && InLastHourBeforeLeap(sample->referenceSeconds)
                     ? LeapInsert
                     : LeapNone;
  // Whole seconds apart first, in doubles (exact for any clock, overflowing
  // for none), the fraction after.
  sample->offset = ((double)sample->referenceSeconds - (double)sample->systemSeconds) +
                   (double)(sample->referenceNanoseconds - sample->systemNanoseconds) / 1e9;
  return 1;
}
