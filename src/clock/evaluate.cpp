// Telegram evaluation and clock setting.
#include "clock/evaluate.h"

#include <math.h>
#include <string.h>
#include <time.h>

#include "clock/pcclock.h"
#include "config/settings.h"
#include "log/log.h"

int32_t ContValidTime;
TrustedTelegramHandler TrustedTelegramHook = NULL;
ClockSampleHandler ClockSampleHook = NULL;
LastTelegramRecord LastTelegram;

const char WeekdayNames[8][WeekdayNameSize] = {
    "Unknown", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};

const int32_t DaysInMonth[2][12] = {
    {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

enum : int64_t {
  MsPerSecond = 1000,
  MsPerMinute = 60 * MsPerSecond,
  MsPerHour = 60 * MsPerMinute,
  MsPerDay = 24 * MsPerHour
};

int IsLeapYear(uint32_t year) {
  return (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) ? 1 : 0;
}

// Leap years in 1..y-1 (y >= 1), proleptic Gregorian.
static int64_t LeapYearsBefore(int64_t y) {
  int64_t n = y - 1;
  return n / 4 - n / 100 + n / 400;
}

// Days from 1970-01-01 to January 1st of year; 0 for 1970 and earlier.
static int64_t DaysBeforeYear(int32_t year) {
  if (year <= 1970) return 0;
  return (int64_t)(year - 1970) * 365 + LeapYearsBefore(year) - LeapYearsBefore(1970);
}

int ClockDifference(TimeTelegram telegram, TimeTelegram* breakdown, double* difference) {
  int leap = IsLeapYear((uint32_t)telegram.year);
  int64_t days = DaysBeforeYear(telegram.year);
  // Only months 1..12 have a length; months beyond the table add nothing more.
  int32_t lastMonth = telegram.month < 1 ? 1 : (telegram.month > 13 ? 13 : telegram.month);
  for (int32_t m = 1; m < lastMonth; ++m) days += DaysInMonth[leap][m - 1];

  int64_t zone = telegram.capture.timezone / 60;
  if (telegram.capture.dstflag != 0) zone -= 1;

  // Seconds first, in 64 bits; the final milliseconds in double, which is
  // exact for every date a receiver can send and cannot overflow otherwise.
  int64_t seconds = (days + telegram.day - 1) * 86400 + (int64_t)telegram.second +
                    (int64_t)telegram.minute * 60 + ((int64_t)telegram.hour + zone) * 3600;
  double telegramMs = (double)seconds * 1000.0 + (double)telegram.millisecond;
  double captureMs = (double)telegram.capture.time * 1000.0 + (double)telegram.capture.millitm;
  *difference = captureMs - telegramMs;

  int notNegative = *difference >= 0.0 ? 1 : 0;
  double a = fabs(*difference);
  memset(breakdown, 0, sizeof *breakdown);
  // Beyond about 292 million years the breakdown saturates instead of wrapping.
  int64_t rest = a < 9.2e18 ? (int64_t)a : (int64_t)9200000000000000000LL;
  int64_t wholeDays = rest / MsPerDay;
  breakdown->day = wholeDays > INT32_MAX ? INT32_MAX : (int32_t)wholeDays;
  rest %= MsPerDay;
  breakdown->hour = (int32_t)(rest / MsPerHour);
  rest %= MsPerHour;
  breakdown->minute = (int32_t)(rest / MsPerMinute);
  rest %= MsPerMinute;
  breakdown->second = (int32_t)(rest / MsPerSecond);
  breakdown->millisecond = (int32_t)(rest % MsPerSecond);
  return notNegative;
}

void NewClockTime(TimeTelegram* record, double difference) {
  PcTime now;
  ReadPcClock(&now);
  double x = (double)now.time * 1000.0 + (double)now.millitm - difference;
  if (!(x > -9.2e18 && x < 9.2e18)) x = 0.0;  // no date lies out there: refused when set
  int64_t ms = (int64_t)x;
  int64_t seconds = ms / 1000;
  int64_t millis = ms - seconds * 1000;
  if (millis < 0) {  // keep milliseconds in 0..999 before 1970 as well
    millis += 1000;
    seconds -= 1;
  }
  record->capture.time = seconds;
  record->capture.millitm = (uint16_t)millis;
  record->capture.timezone = now.timezone;
  record->capture.dstflag = now.dstflag;
  record->millisecond = (int32_t)millis;

  time_t t = (time_t)seconds;
  struct tm local;
  memset(&local, 0, sizeof local);
  const struct tm* broken = localtime(&t);
  if (broken != NULL) local = *broken;  // unrepresentable: an impossible date, refused when set
  record->hour = local.tm_hour;
  record->minute = local.tm_min;
  record->second = local.tm_sec;
  record->year = local.tm_year + 1900;
  record->month = local.tm_mon + 1;
  record->day = local.tm_mday;
}

int TelegramZoneAgrees(const TimeTelegram* telegram) {
  int summer = telegram->Z1 != 0;
  int winter = telegram->Z2 != 0;
  if (summer == winter) return 0;
  return summer == (telegram->capture.dstflag != 0) ? 1 : 0;
}

void EvaluateTelegram(TimeTelegram telegram) {
  LogMessage("R:%d A1:%d Z1:%d Z2:%d A2:%d S:%d", telegram.R, telegram.A1, telegram.Z1,
             telegram.Z2, telegram.A2, telegram.S);
  const char* weekdayName =
      telegram.weekday >= 0 && telegram.weekday <= 7 ? WeekdayNames[telegram.weekday] : WeekdayNames[0];
  LogMessage("%.2d:%.2d:%.2d.%.3d %.2d.%.2d.%.4d %s", telegram.hour, telegram.minute,
             telegram.second, telegram.millisecond, telegram.day, telegram.month, telegram.year,
             weekdayName);

  if (telegram.valid == 0) {
    ContValidTime = 0;
    return;
  }
  if (telegram.millisecond >= 1000) telegram.millisecond = 0;
  if (telegram.weekday == 7) telegram.weekday = 0;

  LastTelegramRecord& last = LastTelegram;
  if (telegram.year != last.year || telegram.month != last.month ||
      telegram.weekday != last.weekday || telegram.day != last.day ||
      telegram.hour != last.hour || telegram.minute != last.minute) {
    last.year = telegram.year;
    last.month = telegram.month;
    last.weekday = telegram.weekday;
    last.day = telegram.day;
    last.hour = telegram.hour;
    last.minute = telegram.minute;
    if (ContValidTime < INT32_MAX) ++ContValidTime;
  }

  TimeTelegram breakdown;
  double difference = 0.0;
  const char* sign = ClockDifference(telegram, &breakdown, &difference) ? "-" : "";
  LogMessage("Time diff: %s%dd %.2d:%.2d:%.2d.%.3d ContValidTime: %d", sign, breakdown.day,
             breakdown.hour, breakdown.minute, breakdown.second, breakdown.millisecond,
             ContValidTime);

  // The time daemon gets every telegram the clock-setting rule would trust,
  // whether or not this program sets the clock itself.
  if (ContValidTime >= Settings.ValidDateTimeCount && TrustedTelegramHook != NULL) {
    TrustedTelegramHook(telegram);
  }

  if (Settings.DCFSetTime == 0) return;
  if (ContValidTime < Settings.ValidDateTimeCount) return;
  if (ClockSampleHook != NULL && TelegramZoneAgrees(&telegram) && ClockSampleHook(difference)) {
    return;
  }
  double absolute = fabs(difference);
  if ((double)Settings.SynchronizeDiff > absolute) return;
  if (absolute / 3600000.0 > (double)Settings.SynchronizeMaxDiff) {
    LogMessage("Big difference, can't synchronize time...");
    return;
  }

  // Around a change of daylight-saving time the telegram may already (or
  // still) be in the other zone than the PC: the difference then holds the
  // hour of the change.
  if (!TelegramZoneAgrees(&telegram)) return;

  NewClockTime(&breakdown, difference);
  LogMessage("Synchronizing time to %.2d.%.2d.%.4d %.2d:%.2d:%.2d.%.3d", breakdown.day,
             breakdown.month, breakdown.year, breakdown.hour, breakdown.minute, breakdown.second,
             breakdown.millisecond);

  uint32_t code = 0;
  if (!SetPcUtcTime(breakdown.capture.time, breakdown.capture.millitm, &code)) {
    LogMessage("Can't set time! errno %d", (int)code);
  }
}
