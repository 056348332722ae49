// The calendar: civil dates, weekdays and German legal time.
#include "clock/calendar.h"

int64_t FloorDivide(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

int IsLeapYear(int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int32_t MonthLength(int64_t year, int32_t month) {
  static const int32_t lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return lengths[month - 1] + (month == 2 ? IsLeapYear(year) : 0);
}

// Eras of 400 years (146097 days), each year counted from March 1st so that the leap
// day ends it; 0000-03-01 lies 719468 days before 1970-01-01.
int64_t DaysFromCivil(int64_t year, int32_t month, int32_t day) {
  int64_t y = year - (month <= 2 ? 1 : 0);
  int64_t era = FloorDivide(y, 400);
  int64_t yearOfEra = y - era * 400;                                    // 0..399
  int64_t monthFromMarch = month > 2 ? month - 3 : month + 9;          // 0..11
  int64_t dayOfYear = (153 * monthFromMarch + 2) / 5 + (int64_t)day - 1;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

CivilDate CivilFromDays(int64_t days) {
  int64_t z = days + 719468;
  int64_t era = FloorDivide(z, 146097);
  int64_t dayOfEra = z - era * 146097;                                            // 0..146096
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  CivilDate date;
  date.day = (int32_t)(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  date.month = (int32_t)(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  date.year = yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0);
  return date;
}

int32_t WeekdayOfDays(int64_t days) {
  int64_t sinceMonday = days + 3;  // 1970-01-01 was a Thursday
  return (int32_t)(sinceMonday - FloorDivide(sinceMonday, 7) * 7) + 1;
}

int NamesRealDateTime(int64_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                      int32_t second, int32_t weekday) {
  if (year < 1 || year > 9999) return 0;
  if (day < 1 || day > MonthLength(year, month)) return 0;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return 0;
  if (weekday == 0) return 1;
  return weekday == WeekdayOfDays(DaysFromCivil(year, month, day)) ? 1 : 0;
}

// 01:00 UTC on the last Sunday of month (31 days long) of year.
static int64_t LastSundayOneUtc(int64_t year, int32_t month) {
  int64_t last = DaysFromCivil(year, month, 31);
  last -= WeekdayOfDays(last) % 7;
  return last * SecondsPerDay + SecondsPerHour;
}

int64_t CestStartUtc(int64_t year) { return LastSundayOneUtc(year, 3); }
int64_t CestEndUtc(int64_t year) { return LastSundayOneUtc(year, 10); }

int IsCestAt(int64_t utcSeconds) {
  int64_t year = CivilFromDays(FloorDivide(utcSeconds, SecondsPerDay)).year;
  return utcSeconds >= CestStartUtc(year) && utcSeconds < CestEndUtc(year) ? 1 : 0;
}

int GermanLocalToUtc(int64_t localSeconds, int64_t* first, int64_t* second) {
  int64_t asCest = localSeconds - CestHours * SecondsPerHour;
  int64_t asCet = localSeconds - CetHours * SecondsPerHour;
  int found = 0;
  if (IsCestAt(asCest)) {
    *first = asCest;
    ++found;
  }
  if (!IsCestAt(asCet)) {
    *(found == 0 ? first : second) = asCet;
    ++found;
  }
  return found;
}
