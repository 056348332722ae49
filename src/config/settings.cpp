// The settings file reader.
#include "config/settings.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config/paths.h"
#include "config/status.h"
#include "os/files.h"

// Hands one problem message to report, or prints it when report is NULL.
static void Report(SettingsReporter report, const char* message) {
  if (report != NULL) {
    report(message);
  } else {
    printf("%s\n", message);
    fflush(stdout);
  }
}

#define TEXT_SETTING(key, value, added, help) \
  {#key, SettingText, offsetof(SettingsRecord, key), sizeof Settings.key, 0, value, added, help}
#define INTEGER_SETTING(key, value, added, help) \
  {#key, SettingInteger, offsetof(SettingsRecord, key), 0, value, "", added, help}

// The keys in the order they are looked up: the thirteen, then the added ones.
const SettingDefinition SettingDefinitions[] = {
    TEXT_SETTING(port, "", 0, "serial device of the receiver, e.g. COM1 or /dev/ttyUSB0"),
    TEXT_SETTING(tz, "", 0, "read but not used (the PC's own time zone applies)"),
    INTEGER_SETTING(baud, 19200, 0, "bit rate of the serial port"),
    INTEGER_SETTING(timer, 1, 0, "minutes from one poll to the next"),
    INTEGER_SETTING(TimerEnable, 0, 0, "non-zero: poll every timer minutes until Ctrl-C"),
    INTEGER_SETTING(century, 2000, 0, "added to the telegram's two-digit year"),
    INTEGER_SETTING(WriteLog, 1, 0, "non-zero: append every message to the log file"),
    INTEGER_SETTING(WriteData, 0, 0, "non-zero: append every raw telegram to the data file"),
    INTEGER_SETTING(DCFSetTime, 0, 0, "non-zero: set the PC clock from the telegrams"),
    INTEGER_SETTING(SynchronizeDiff, 100, 0, "least difference in ms that is corrected"),
    INTEGER_SETTING(SynchronizeMaxDiff, 12, 0, "greatest difference in hours still corrected"),
    INTEGER_SETTING(ValidDateTimeCount, 3, 0, "valid telegrams of new minutes before a set"),
    INTEGER_SETTING(TimerGetDecodedTime, 0, 0, "non-zero: ask for the module's decoded time"),
    TEXT_SETTING(ChronySocket, "", 1, "path of chronyd's SOCK socket; empty: off"),
    INTEGER_SETTING(NtpShmUnit, -1, 1, "NTP shared-memory unit 0 to 255; -1: off"),
    INTEGER_SETTING(ClockDiscipline, 0, 1, "non-zero: slew the clock and correct its frequency"),
    INTEGER_SETTING(Receiver, 0, 1, "0: the command module; 1: a pulse receiver on a status line"),
    TEXT_SETTING(PulseLine, "DCD", 1, "status line of the pulse: DCD, CTS, DSR or RI"),
    INTEGER_SETTING(PulseInvert, 0, 1, "1: the pulse is the line's low state"),
    INTEGER_SETTING(PulseDelay, 0, 1, "ms the receiver delays the pulse, taken off each capture"),
};
const size_t SettingCount = sizeof SettingDefinitions / sizeof SettingDefinitions[0];

SettingsRecord Settings;

static char* TextField(SettingsRecord* record, const SettingDefinition& row) {
  return (char*)record + row.offset;
}
static int32_t* IntegerField(SettingsRecord* record, const SettingDefinition& row) {
  return (int32_t*)(void*)((char*)record + row.offset);
}

static int IsWhiteSpace(unsigned char c) { return (c >= 0x09 && c <= 0x0D) || c == 0x20; }

void DefaultSettings(SettingsRecord* record) {
  memset(record, 0, sizeof *record);
  for (size_t i = 0; i < SettingCount; ++i) {
    const SettingDefinition& row = SettingDefinitions[i];
    if (row.type == SettingText) {
      snprintf(TextField(record, row), row.size, "%s", row.textDefault);
    } else {
      *IntegerField(record, row) = row.integerDefault;
    }
  }
}

void ResetSettings(void) { DefaultSettings(&Settings); }

static char Upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

char* UpperCase(char* text) {
  for (char* p = text; *p != '\0'; ++p) *p = Upper(*p);
  return text;
}

// 1 when text begins with prefix, the case of a to z aside.
static int BeginsWith(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (Upper(*text) != Upper(*prefix)) return 0;
  }
  return 1;
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

// ReadSettingString, but -1 when the file could not be opened or read.
static int LookUp(const char* section, const char* key, char* destination, size_t size,
                  const char* defaultValue, SettingsReporter report) {
  char message[SettingTextSize + PathTextSize + 32];
  snprintf(destination, size, "%s", defaultValue);
  FILE* file = OsOpenFile(Paths.settings, "rb");
  if (file == NULL) {
    StatusFromFailedCall(errno);
    snprintf(message, sizeof message, "Can't open file %s", Paths.settings);
    Report(report, message);
    return -1;
  }
  int sectionFound = 0;
  char line[SettingLineLength + 1];
  while (fgets(line, sizeof line, file) != NULL) {
    Trim(line);
    if (!sectionFound && BeginsWith(line, section)) sectionFound = 1;
    if (!sectionFound || !BeginsWith(line, key)) continue;
    const char* equals = strchr(line, '=');
    if (equals == NULL) continue;  // a key line without "=" does not match
    // Blanks after "=" skipped before the copy take no room in destination.
    const char* value = equals + 1;
    while (IsWhiteSpace((unsigned char)*value)) ++value;
    snprintf(destination, size, "%s", value);
    Trim(destination);
    OsCloseFile(file);
    return 1;
  }
  int failed = !feof(file);
  if (failed) {
    int code = errno;
    StatusFromFailedCall(code);
    snprintf(message, sizeof message, "Read error %d on %s", code, Paths.settings);
    Report(report, message);
  }
  OsCloseFile(file);
  return failed ? -1 : 0;
}

int ReadSettingString(const char* section, const char* key, char* destination, size_t size,
                      const char* defaultValue, SettingsReporter report) {
  return LookUp(section, key, destination, size, defaultValue, report) == 1;
}

// Decimal conversion, clamped to the 32-bit range (long may be wider).
static int32_t TextToInt(const char* text) {
  long value = strtol(text, NULL, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return (int32_t)value;
}

int ReadSettingInt(const char* section, const char* key, int32_t* destination,
                   int32_t defaultValue, SettingsReporter report) {
  *destination = defaultValue;
  char text[SettingTextSize];
  if (!ReadSettingString(section, key, text, sizeof text, "", report)) return 0;
  *destination = TextToInt(text);
  return 1;
}

void LoadSettings(SettingsReporter report) {
  int fileRead = 0;  // whether the last of the thirteen could read the file
  ResetSettings();   // the log that reports go to follows WriteLog's default until it is read
  for (size_t i = 0; i < SettingCount; ++i) {
    const SettingDefinition& row = SettingDefinitions[i];
    if (row.added && !fileRead) continue;  // not looked up: the default stands
    char text[SettingTextSize];
    int found;
    if (row.type == SettingText) {
      found = LookUp("[init]", row.key, TextField(&Settings, row), row.size, row.textDefault,
                     report);
    } else {
      found = LookUp("[init]", row.key, text, sizeof text, "", report);
      if (found == 1) *IntegerField(&Settings, row) = TextToInt(text);
    }
    if (!row.added) fileRead = found >= 0;
  }
}
