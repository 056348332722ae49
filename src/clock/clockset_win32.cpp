// Setting the PC clock on Windows: SetLocalTime with the local date and time.
#include <windows.h>

#include "clock/pcclock.h"

int SetPcLocalTime(const LocalClockTime* when, uint32_t* errorCode) {
  SYSTEMTIME value;
  value.wYear = when->wYear;
  value.wMonth = when->wMonth;
  value.wDayOfWeek = when->wDayOfWeek;
  value.wDay = when->wDay;
  value.wHour = when->wHour;
  value.wMinute = when->wMinute;
  value.wSecond = when->wSecond;
  value.wMilliseconds = when->wMilliseconds;
  if (SetLocalTime(&value)) return 1;
  *errorCode = (uint32_t)GetLastError();
  return 0;
}
