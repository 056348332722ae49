// The settings file reader.
#include "config/settings.h"

#include <errno.h>
#include <limits.h>
#include <stddef.h>
#include <stdio.h>
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

#define TEXT_SETTING(key, field, help) \
  {#key, SettingText, offsetof(SettingsRecord, field), sizeof(SettingsRecord::field), 0, "", 0, help}
#define INTEGER_SETTING(key, value, added, help) \
  {#key, SettingInteger, offsetof(SettingsRecord, key), 0, value, "", added, help}

// The keys in the order they are looked up: the thirteen, then the added ones.
const SettingDefinition SettingDefinitions[] = {
    TEXT_SETTING(port, port, "serial device of the receiver, e.g. COM1 or /dev/ttyUSB0"),
    TEXT_SETTING(tz, tz, "read but not used (the PC's own time zone applies)"),
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
    {"ChronySocket", SettingText, offsetof(SettingsRecord, ChronySocket),
     sizeof(SettingsRecord::ChronySocket), 0, "", 1, "path of chronyd's SOCK socket; empty: off"},
    INTEGER_SETTING(NtpShmUnit, -1, 1, "NTP shared-memory unit 0 to 255; -1: off"),
    INTEGER_SETTING(ClockDiscipline, 0, 1, "non-zero: slew the clock and correct its frequency"),
    INTEGER_SETTING(Receiver, 0, 1, "0: the command module; 1: a pulse receiver on a status line"),
    {"PulseLine", SettingText, offsetof(SettingsRecord, PulseLine),
     sizeof(SettingsRecord::PulseLine), 0, "DCD", 1, "status line of the pulse: DCD, CTS, DSR or RI"},
    INTEGER_SETTING(PulseInvert, 0, 1, "1: the pulse is the line's low state"),
    INTEGER_SETTING(PulseDelay, 0, 1, "ms the receiver delays the pulse, taken off each capture"),
};
const size_t SettingCount = sizeof SettingDefinitions / sizeof SettingDefinitions[0];

#undef TEXT_SETTING
#undef INTEGER_SETTING

SettingsRecord Settings;

static char* TextField(SettingsRecord* record, const SettingDefinition& row) {
  return (char*)record + row.offset;
}
static int32_t* IntegerField(SettingsRecord* record, const SettingDefinition& row) {
  return (int32_t*)(void*)((char*)record + row.offset);
}

static int IsWhiteSpace(unsigned char c) { return (c >= 0x09 && c <= 0x0D) || c == 0x20; }

// Copies source into destination of size bytes, cutting what does not fit.
static void CopyText(char* destination, size_t size, const char* source) {
  if (size == 0) return;
  size_t length = strlen(source);
  if (length >= size) length = size - 1;
  memmove(destination, source, length);
  destination[length] = '\0';
}

void DefaultSettings(SettingsRecord* record) {
  memset(record, 0, sizeof *record);
  for (size_t i = 0; i < SettingCount; ++i) {
    const SettingDefinition& row = SettingDefinitions[i];
    if (row.type == SettingText) {
      CopyText(TextField(record, row), row.size, row.textDefault);
    } else {
      *IntegerField(record, row) = row.integerDefault;
    }
  }
}

void ResetSettings(void) { DefaultSettings(&Settings); }

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

// ReadSettingString, also telling in *fileRead whether the file could be read.
static int LookUp(const char* section, const char* key, char* destination, size_t size,
                  const char* defaultValue, SettingsReporter report, int* fileRead) {
  char message[SettingTextSize + PathTextSize + 32];
  CopyText(destination, size, defaultValue);
  FILE* file = OsOpenFile(Paths.settings, "rb");
  *fileRead = file != NULL;
  if (file == NULL) {
    StatusFromFailedCall(errno);
    snprintf(message, sizeof message, "Can't open file %s", Paths.settings);
    Report(report, message);
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
        *fileRead = 0;
        int code = errno;
        StatusFromFailedCall(code);
        snprintf(message, sizeof message, "Read error %d on %s", code, Paths.settings);
        Report(report, message);
      }
      OsCloseFile(file);
      return 0;
    }
    Trim(line);
    memcpy(asRead, line, strlen(line) + 1);
    UpperCase(line);
    if (!sectionFound && strncmp(line, wantedSection, sectionLength) == 0) sectionFound = 1;
    if (sectionFound && strncmp(line, wantedKey, keyLength) == 0) {
      const char* equals = strchr(asRead, '=');
      if (equals == NULL) continue;  // a key line without "=" does not match
      // Blanks after "=" skipped before the copy take no room in destination.
      const char* value = equals + 1;
      while (IsWhiteSpace((unsigned char)*value)) ++value;
      CopyText(destination, size, value);
      Trim(destination);
      OsCloseFile(file);
      return 1;
    }
  }
}

int ReadSettingString(const char* section, const char* key, char* destination, size_t size,
                      const char* defaultValue, SettingsReporter report) {
  int fileRead = 0;
  return LookUp(section, key, destination, size, defaultValue, report, &fileRead);
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
                   int32_t defaultValue, SettingsReporter report) {
  *destination = defaultValue;
  char text[SettingTextSize];
  if (!ReadSettingString(section, key, text, sizeof text, "", report)) return 0;
  *destination = TextToInt(text);
  return 1;
}

void LoadSettings(SettingsReporter report) {
  static const char section[] = "[init]";
  int fileRead = 0;   // what the last of the thirteen found
  int addedRead = 0;  // what an added key's lookup found: not asked
  ResetSettings();    // the log that reports go to follows WriteLog's default until it is read
  for (size_t i = 0; i < SettingCount; ++i) {
    const SettingDefinition& row = SettingDefinitions[i];
    if (row.added && !fileRead) continue;  // not looked up: the default stands
    int* read = row.added ? &addedRead : &fileRead;
    char text[SettingTextSize];
    if (row.type == SettingText) {
      LookUp(section, row.key, TextField(&Settings, row), row.size, row.textDefault, report, read);
    } else if (LookUp(section, row.key, text, sizeof text, "", report, read)) {
      *IntegerField(&Settings, row) = TextToInt(text);
    }
  }
}
