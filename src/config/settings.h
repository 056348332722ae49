// The program's settings and the settings file reader. Each key is one row of
// SettingDefinitions (settings.cpp): its default, lookup, fuzz seed and docs check.
//
// The reader's compatibility rules, all of them: every lookup opens the file,
// finds the first line beginning with the section, then from there the first
// beginning with the key (any case; by prefix, so "timer" matches
// "TimerEnable="; a line without "=" does not match), takes the trimmed text
// after the first "=" and closes the file. Nothing ends the section; nothing
// is cached or written back. Lines are read in pieces of SettingLineLength
// bytes. The thirteen first keys are always looked up (a missing file gives
// thirteen "Can't open file" lines); added keys only if the last of them read
// the file, and none may begin, or begin with, another key.
#ifndef DCFSYNC_CONFIG_SETTINGS_H
#define DCFSYNC_CONFIG_SETTINGS_H

#include <stddef.h>
#include <stdint.h>

enum {
  PortNameSize = 30,     // 29 characters and the terminator
  SettingLineLength = 253,
  SettingTextSize = 256  // enough for any value a line can hold
};

// The settings of section "[init]", each named as its key.
struct SettingsRecord {
  char port[PortNameSize];
  char tz[SettingTextSize];  // read, not used
  int32_t baud;
  int32_t timer;
  int32_t TimerEnable;
  int32_t century;
  int32_t WriteLog;
  int32_t WriteData;
  int32_t DCFSetTime;
  int32_t SynchronizeDiff;     // ms
  int32_t SynchronizeMaxDiff;  // hours
  int32_t ValidDateTimeCount;
  int32_t TimerGetDecodedTime;
  char ChronySocket[SettingTextSize];  // whole as written; empty: off
  int32_t NtpShmUnit;                  // -1: off
  int32_t ClockDiscipline;
  int32_t Receiver;  // 0 the command module, 1 a pulse receiver
  char PulseLine[8];
  int32_t PulseInvert;
  int32_t PulseDelay;
};

// Owned by the driver: filled once by LoadSettings, read-only after that.
extern SettingsRecord Settings;

enum SettingType { SettingText, SettingInteger };

// One key: its field in SettingsRecord (size for a text), its default,
// whether it was added after the thirteen, and its one-line help.
struct SettingDefinition {
  const char* key;
  SettingType type;
  size_t offset;
  size_t size;
  int32_t integerDefault;
  const char* textDefault;
  int added;
  const char* help;
};

extern const SettingDefinition SettingDefinitions[];
extern const size_t SettingCount;

// Put every field of record (of Settings) to its row's default.
void DefaultSettings(SettingsRecord* record);
void ResetSettings(void);

// Receives one finished problem message without a line end; NULL prints it
// and a newline on standard output.
typedef void (*SettingsReporter)(const char* message);

// Copies the trimmed value of key in section of Paths.settings into
// destination (cut to size - 1). Returns 1 when found, else 0 with
// destination holding defaultValue. "Can't open file %s" and "Read error %d
// on %s" go to report and their error number becomes the run's status.
int ReadSettingString(const char* section, const char* key, char* destination,
                      size_t size, const char* defaultValue, SettingsReporter report);

// The same for a decimal integer (blanks, optional sign, digits up to the
// first other byte; none gives 0; clamped to the 32-bit range).
int ReadSettingInt(const char* section, const char* key, int32_t* destination,
                   int32_t defaultValue, SettingsReporter report);

// Resets Settings, then reads every row from "[init]" by the rules above.
void LoadSettings(SettingsReporter report);

// In-place text helpers returning their argument. White space is 0x09 to
// 0x0D and 0x20; upper-casing touches only a to z.
char* UpperCase(char* text);
char* TrimLeft(char* text);
char* TrimRight(char* text);
char* Trim(char* text);

#endif
