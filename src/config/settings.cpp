// The settings file reader.
#include "config/settings.h"

#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "config/paths.h"
#include "config/status.h"

static void ReportToConsole(const char* message) {
  printf("%s\n", message);
  fflush(stdout);
}

SettingsReporter SettingsReport = ReportToConsole;

// Formats one problem line and hands it to SettingsReport.
static void ReportProblem(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
static void ReportProblem(const char* format, ...) {
  char message[SettingTextSize + PathTextSize + 32];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  SettingsReport(message);
}

const SettingsRecord DefaultSettings = {
    19200,  // baud
    1,      // timer
    0,      // TimerEnable
    2000,   // century
    1,      // WriteLog
    0,      // WriteData
    0,      // DCFSetTime
    100,    // SynchronizeDiff
    12,     // SynchronizeMaxDiff
    3,      // ValidDateTimeCount
    0,      // TimerGetDecodedTime
    -1,     // NtpShmUnit
    0,      // ClockDiscipline
};

SettingsRecord Settings = DefaultSettings;
char PortName[PortNameSize];
char ChronySocket[SettingTextSize];
int SettingsFileRead;

static int IsWhiteSpace(unsigned char c) { return (c >= 0x09 && c <= 0x0D) || c == 0x20; }

// Copies source into destination of size bytes, cutting what does not fit.
static void CopyText(char* destination, size_t size, const char* source) {
  if (size == 0) return;
  size_t length = strlen(source);
  if (length >= size) length = size - 1;
  memmove(destination, source, length);
  destination[length] = '\0';
}

char* UpperCase(char* text) {
  for (char* p = text; *p != '\0'; ++p) {
    if (*p >= 'a' && *p <= 'z') *p = (char)(*p - 'a' + 'A');
  }
  return text;
}

char* TrimRight(char* text) {
  size_t length = strlen(text);
  while (length > 0 && IsWhiteSpace((unsigned char)text[length - 1])) text[--length] = '\0';
  return text;
}

char* TrimLeft(char* text) {
  size_t skip = 0;
  while (text[skip] != '\0' && IsWhiteSpace((unsigned char)text[skip])) ++skip;
  if (skip > 0) memmove(text, text + skip, strlen(text + skip) + 1);
  return text;
}

char* Trim(char* text) { return TrimLeft(TrimRight(text)); }

int ReadSettingString(const char* section, const char* key, char* destination, size_t size,
                      const char* defaultValue) {
  CopyText(destination, size, defaultValue);
  FILE* file = fopen(SettingsPath, "rb");
  SettingsFileRead = file != NULL ? 1 : 0;
  if (file == NULL) {
    StatusFromFailedCall(errno);
    ReportProblem("Can't open file %s", SettingsPath);
    return 0;
  }

  char wantedSection[SettingTextSize];
  char wantedKey[SettingTextSize];
  CopyText(wantedSection, sizeof wantedSection, section);
  CopyText(wantedKey, sizeof wantedKey, key);
  UpperCase(wantedSection);
  UpperCase(wantedKey);
  size_t sectionLength = strlen(wantedSection);
  size_t keyLength = strlen(wantedKey);

  int sectionFound = 0;
  char line[SettingLineLength + 1];
  char asRead[SettingLineLength + 1];
  for (;;) {
    if (fgets(line, sizeof line, file) == NULL) {
      if (!feof(file)) {
        SettingsFileRead = 0;
        int code = errno;
        StatusFromFailedCall(code);
        ReportProblem("Read error %d on %s", code, SettingsPath);
      }
      fclose(file);
      return 0;
    }
    Trim(line);
    memcpy(asRead, line, strlen(line) + 1);
    UpperCase(line);
    if (!sectionFound && strncmp(line, wantedSection, sectionLength) == 0) sectionFound = 1;
    if (sectionFound && strncmp(line, wantedKey, keyLength) == 0) {
      const char* equals = strchr(asRead, '=');
      if (equals == NULL) continue;  // a key line without "=" does not match
      // The line is trimmed already; skip the blanks after "=" before
      // copying so they take no room in the destination.
      const char* value = equals + 1;
      while (IsWhiteSpace((unsigned char)*value)) ++value;
      CopyText(destination, size, value);
      Trim(destination);
      fclose(file);
      return 1;
    }
  }
}

// Decimal conversion: blanks, optional sign, digits up to the first other
// byte, clamped to the 32-bit range.
static int32_t TextToInt(const char* text) {
  while (IsWhiteSpace((unsigned char)*text)) ++text;
  int negative = 0;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  int64_t value = 0;
  while (*text >= '0' && *text <= '9') {
    if (value <= (int64_t)INT32_MAX + 1) value = value * 10 + (*text - '0');
    ++text;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return (int32_t)value;
}

int ReadSettingInt(const char* section, const char* key, int32_t* destination,
                   int32_t defaultValue) {
  *destination = defaultValue;
  char text[SettingTextSize];
  if (!ReadSettingString(section, key, text, sizeof text, "")) return 0;
  *destination = TextToInt(text);
  return 1;
}

void LoadSettings(void) {
  static const char section[] = "[init]";
  char tz[SettingTextSize];  // looked up for compatibility, not used
  const SettingsRecord& d = DefaultSettings;
  ReadSettingString(section, "port", PortName, sizeof PortName, "");
  ReadSettingString(section, "tz", tz, sizeof tz, "");
  ReadSettingInt(section, "baud", &Settings.baud, d.baud);
  ReadSettingInt(section, "timer", &Settings.timer, d.timer);
  ReadSettingInt(section, "TimerEnable", &Settings.TimerEnable, d.TimerEnable);
  ReadSettingInt(section, "century", &Settings.century, d.century);
  ReadSettingInt(section, "WriteLog", &Settings.WriteLog, d.WriteLog);
  ReadSettingInt(section, "WriteData", &Settings.WriteData, d.WriteData);
  ReadSettingInt(section, "DCFSetTime", &Settings.DCFSetTime, d.DCFSetTime);
  ReadSettingInt(section, "SynchronizeDiff", &Settings.SynchronizeDiff, d.SynchronizeDiff);
  ReadSettingInt(section, "SynchronizeMaxDiff", &Settings.SynchronizeMaxDiff,
                 d.SynchronizeMaxDiff);
  ReadSettingInt(section, "ValidDateTimeCount", &Settings.ValidDateTimeCount,
                 d.ValidDateTimeCount);
  ReadSettingInt(section, "TimerGetDecodedTime", &Settings.TimerGetDecodedTime,
                 d.TimerGetDecodedTime);

  // The feed to the time daemon: looked up after the thirteen, and only in
  // a file that could be opened and read.
  ChronySocket[0] = '\0';
  Settings.NtpShmUnit = d.NtpShmUnit;
  Settings.ClockDiscipline = d.ClockDiscipline;
  if (SettingsFileRead == 0) return;
  ReadSettingString(section, "ChronySocket", ChronySocket, sizeof ChronySocket, "");
  ReadSettingInt(section, "NtpShmUnit", &Settings.NtpShmUnit, d.NtpShmUnit);
  // The clock discipline, after the feed (whose keys refuse it).
  if (SettingsFileRead == 0) return;
  ReadSettingInt(section, "ClockDiscipline", &Settings.ClockDiscipline, d.ClockDiscipline);
}
