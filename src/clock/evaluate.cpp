// The poll's decision about a telegram.
#include "clock/evaluate.h"

#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "clock/calendar.h"
#include "clock/pcclock.h"

static const char* const WeekdayNames[8] = {
    "Unknown", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};

enum : int64_t { MsPerSecond = 1000, MsPerMinute = 60000, MsPerHour = 3600000, MsPerDay = 86400000 };

// The fields added up as numbers into seconds since 1970, read as UTC.
static int64_t FieldSeconds(const TimeTelegram* t) {
  int32_t lastMonth = t->month < 1 ? 1 : (t->month > 13 ? 13 : t->month);
  int64_t days = DaysFromCivil(t->year, 1, 1);
  for (int32_t m = 1; m < lastMonth; ++m) days += MonthLength(t->year, m);
  return (days + t->day - 1) * SecondsPerDay + (int64_t)t->hour * SecondsPerHour +
         (int64_t)t->minute * SecondsPerMinute + t->second;
}

TelegramInstant TelegramUtc(const TimeTelegram* telegram) {
  int64_t local = FieldSeconds(telegram);
  int real = NamesRealDateTime(telegram->year, telegram->month, telegram->day, telegram->hour,
                               telegram->minute, telegram->second, telegram->weekday) &&
             telegram->millisecond >= 0 && telegram->millisecond <= 999;
  TelegramInstant instant = {real ? InstantExact : InstantImpossible, 0.0};
  int64_t utc = local - CetHours * SecondsPerHour;
  if ((telegram->Z1 != 0) != (telegram->Z2 != 0)) {
    utc = local - (telegram->Z1 != 0 ? CestHours : CetHours) * SecondsPerHour;
  } else if (telegram->year >= 1 && telegram->year <= 9999) {
    int64_t first = 0, second = 0;
    int found = GermanLocalToUtc(local, &first, &second);
    double captureS = (double)telegram->capture.time;
    if (found == 2 && fabs((double)second - captureS) < fabs((double)first - captureS)) {
      first = second;
    }
    if (found > 0) utc = first;
    if (found == 0) instant.kind = InstantImpossible;
    if (found == 2 && real) instant.kind = InstantRepeated;
  }
  instant.utcMs = (double)utc * 1000.0 + (double)telegram->millisecond;
  return instant;
}

static int BreakDown(double difference, DifferenceBreakdown* breakdown) {
  double a = fabs(difference);
  // Beyond about 292 million years the breakdown saturates instead of wrapping.
  int64_t rest = a < 9.2e18 ? (int64_t)a : (int64_t)9200000000000000000LL;
  int64_t wholeDays = rest / MsPerDay;
  breakdown->days = wholeDays > INT32_MAX ? INT32_MAX : (int32_t)wholeDays;
  breakdown->hours = (int32_t)(rest % MsPerDay / MsPerHour);
  breakdown->minutes = (int32_t)(rest % MsPerHour / MsPerMinute);
  breakdown->seconds = (int32_t)(rest % MsPerMinute / MsPerSecond);
  breakdown->milliseconds = (int32_t)(rest % MsPerSecond);
  return difference >= 0.0 ? 1 : 0;
}

static double CaptureMs(const TimeTelegram* telegram) {
  return (double)telegram->capture.time * 1000.0 + (double)telegram->capture.millitm;
}

int ClockDifference(const TimeTelegram* telegram, DifferenceBreakdown* breakdown,
                    double* difference) {
  *difference = CaptureMs(telegram) - TelegramUtc(telegram).utcMs;
  return BreakDown(*difference, breakdown);
}

void ResetCountingState(CountingState* state) { memset(state, 0, sizeof *state); }

int32_t PollSeconds(const SettingsRecord* settings) {
  if (settings->TimerEnable == 0 || settings->timer <= 0) return 1;
  return settings->timer > INT32_MAX / 60 ? INT32_MAX : settings->timer * 60;
}

void StartDecision(PollDecision* decision) { memset(decision, 0, sizeof *decision); }

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
static void AddLine(PollDecision* decision, const char* format, ...) {
  if (decision->lineCount >= DecisionLineCount) return;
  va_list args;
  va_start(args, format);
  vsnprintf(decision->lines[decision->lineCount++], DecisionLineSize, format, args);
  va_end(args);
}

void AddDecisionLine(PollDecision* decision, const char* text) { AddLine(decision, "%s", text); }

void BreakCount(CountingState* counting, ChainState* chain) {
  counting->ContValidTime = 0;
  chain->length = 0;
}

static int AgreesWithChain(const ChainState* chain, double utcMs, int64_t captureMonoMs) {
  double apart = (utcMs - chain->utcMs) - (double)(captureMonoMs - chain->captureMonoMs);
  return chain->length > 0 && fabs(apart) <= (double)ChainToleranceMs;
}

// Counts the telegram when its minute is new; returns 1 when it was counted.
static int Count(const TimeTelegram* t, CountingState* state) {
  CountingState seen = {state->ContValidTime, t->year, t->month, t->weekday == 7 ? 0 : t->weekday,
                        t->day, t->hour, t->minute};
  if (memcmp(&seen, state, sizeof seen) == 0) return 0;  // the same minute again
  *state = seen;
  if (state->ContValidTime < INT32_MAX) ++state->ContValidTime;
  return 1;
}

void DecideTelegram(const TimeTelegram* received, int64_t captureMonoMs,
                    const SettingsRecord* settings, CountingState* counting, ChainState* chain,
                    DisciplineState* discipline, PollDecision* decision) {
  TimeTelegram telegram = *received;
  AddLine(decision, "R:%d A1:%d Z1:%d Z2:%d A2:%d S:%d", telegram.R, telegram.A1, telegram.Z1,
          telegram.Z2, telegram.A2, telegram.S);
  int32_t weekday = telegram.weekday >= 0 && telegram.weekday <= 7 ? telegram.weekday : 0;
  AddLine(decision, "%.2d:%.2d:%.2d.%.3d %.2d.%.2d.%.4d %s", telegram.hour, telegram.minute,
          telegram.second, telegram.millisecond, telegram.day, telegram.month, telegram.year,
          WeekdayNames[weekday]);
  if (telegram.valid == 0) {
    BreakCount(counting, chain);
    return;
  }
  // A millisecond of 1000 or more names no instant; the difference takes it as 0.
  if (telegram.millisecond >= 1000) telegram.millisecond = 0;
  TelegramInstant instant = TelegramUtc(&telegram);
  int32_t kind = received->millisecond >= 1000 ? (int32_t)InstantImpossible : instant.kind;
  double utcMs = instant.utcMs;
  int counted = Count(&telegram, counting);
  DifferenceBreakdown breakdown;
  double difference = CaptureMs(&telegram) - utcMs;
  const char* sign = BreakDown(difference, &breakdown) ? "-" : "";
  AddLine(decision, "Time diff: %s%dd %.2d:%.2d:%.2d.%.3d ContValidTime: %d", sign,
          breakdown.days, breakdown.hours, breakdown.minutes, breakdown.seconds,
          breakdown.milliseconds, counting->ContValidTime);
  TelegramSample& sample = decision->sample;
  sample.offsetMs = -difference;
  int agrees = AgreesWithChain(chain, utcMs, captureMonoMs);
  if (counted) {
    if (chain->length > 0 && !agrees) {
      AddLine(decision, "Telegram disagrees with the one before, new chain");
    }
    chain->length = agrees && chain->length < INT32_MAX ? chain->length + 1 : 1;
    chain->utcMs = utcMs;
    chain->captureMonoMs = captureMonoMs;
    agrees = 1;
  }
  if (counting->ContValidTime < settings->ValidDateTimeCount) return;
  if (settings->ValidDateTimeCount > 1 && (!agrees || chain->length < settings->ValidDateTimeCount)) {
    return;
  }
  if (kind == InstantExact) {
    decision->trusted = 1;
    sample.referenceMs = (int64_t)utcMs;
    sample.capture = telegram.capture;
    sample.captureMonoMs = captureMonoMs;
    sample.leapAnnounced = telegram.A2;
  }
  if (settings->DCFSetTime == 0) return;
  double absolute = fabs(difference);
  if (discipline != NULL && decision->trusted) {
    decision->discipline = 1;
    decision->disciplineCommand = DisciplineSample(discipline, difference, captureMonoMs,
                                                   PollSeconds(settings),
                                                   (double)settings->SynchronizeDiff);
    if (decision->disciplineCommand.action != DisciplineStep) return;
  } else if ((double)settings->SynchronizeDiff > absolute) {
    return;
  }
  if (absolute / 3600000.0 > (double)settings->SynchronizeMaxDiff) {
    AddLine(decision, "Big difference, can't synchronize time...");
  } else if (kind == InstantImpossible) {
    // As the platform's own set refuses an instant that does not exist.
    AddLine(decision, "Can't set time! errno %d", (int)InvalidTimeErrorCode());
  } else if (kind == InstantRepeated) {
    AddLine(decision, "Repeated hour without time zone, can't synchronize time...");
  } else {
    decision->setClock = 1;
  }
}
