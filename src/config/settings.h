// The settings file reader and the program's settings.
//
// Every key is one row of SettingDefinitions (settings.cpp): its name, type,
// field of SettingsRecord, default and one-line help. The row drives the
// defaults (ResetSettings), the reader (LoadSettings), the fuzz seeds and the
// test that the manual page, the package's sample settings and the Windows
// README name every key. Adding a key is adding a row (and its field).
//
// The reader keeps the compatibility rules of the settings file, all of
// them here:
//   - The file (Paths.settings) is a text file with a section line "[init]"
//     and key=value lines below it. Nothing ends the section: keys below a
//     later section line still count.
//   - Every lookup opens the file, scans it from the top for the first line
//     that begins with the section, then for the first line that begins with
//     the key (any case; a line without "=" does not match), copies the
//     trimmed text after the first "=" and closes the file. Nothing is cached
//     and nothing is ever written back; every key rescans the file.
//   - Keys match by prefix, so the first line wins: "timer" also matches a
//     line beginning "TimerEnable", and reads its value when it comes first.
//   - Lines are read in pieces of SettingLineLength bytes; a value longer
//     than its field is cut.
//   - The thirteen keys of the first version are looked up in their fixed
//     order, also when the file is missing: a missing file gives exactly
//     thirteen "Can't open file" lines (an unreadable one thirteen
//     "Read error" lines). Keys added since are looked up after them, and
//     only when the last of the thirteen could open and read the file;
//     otherwise they keep their defaults without a lookup. An added key
//     must neither begin with an existing key nor be the beginning of one.
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
  char port[PortNameSize];          // the receiver's serial device
  char tz[SettingTextSize];         // read, not used
  int32_t baud;
  int32_t timer;                    // minutes between polls
  int32_t TimerEnable;              // 0: poll once
  int32_t century;
  int32_t WriteLog;
  int32_t WriteData;
  int32_t DCFSetTime;
  int32_t SynchronizeDiff;          // ms
  int32_t SynchronizeMaxDiff;       // hours
  int32_t ValidDateTimeCount;
  int32_t TimerGetDecodedTime;
  // The feed to the time daemon: chronyd's SOCK socket path, whole as
  // written (the feed refuses a path too long for a socket address instead
  // of cutting it), empty for none; the NTP shared-memory unit, -1 for none.
  char ChronySocket[SettingTextSize];
  int32_t NtpShmUnit;
  // The clock discipline (clock/discipline.h): 0 steps the clock only.
  int32_t ClockDiscipline;
  // The receiver: 0 the command module, 1 a pulse receiver on a status line
  // (PulseLine DCD, CTS, DSR or RI; PulseInvert 1 when it idles high;
  // PulseDelay ms its filter delays the edge, taken off every capture).
  int32_t Receiver;
  char PulseLine[8];
  int32_t PulseInvert;
  int32_t PulseDelay;
};

// The settings of the run, owned by the driver: read once by LoadSettings at
// start-up and read-only after that. ResetSettings gives the defaults.
extern SettingsRecord Settings;

enum SettingType { SettingText, SettingInteger };

// One key: the field it fills (offset in SettingsRecord; size for a text),
// its default, whether it was added after the first thirteen, and its help.
struct SettingDefinition {
  const char* key;
  SettingType type;
  size_t offset;
  size_t size;               // SettingText: bytes of the field
  int32_t integerDefault;    // SettingInteger
  const char* textDefault;   // SettingText
  int added;                 // 1: looked up only after the thirteen, in a readable file
  const char* help;
};

extern const SettingDefinition SettingDefinitions[];
extern const size_t SettingCount;

// Puts every field of record to its row's default.
void DefaultSettings(SettingsRecord* record);

// Puts Settings to the defaults (DefaultSettings).
void ResetSettings(void);

// Where the reader reports a settings file it cannot open or read: one
// finished message without a line end. NULL prints the message and a
// newline on standard output.
typedef void (*SettingsReporter)(const char* message);

// Looks up key in section of Paths.settings and copies its trimmed value
// into destination (size bytes). Returns 1 when found, else 0 with
// destination holding defaultValue. Failures go to report: "Can't open file
// %s" and "Read error %d on %s", and their error number becomes the run's
// status (config/status.h). A value longer than the destination is cut to
// size - 1 characters.
int ReadSettingString(const char* section, const char* key, char* destination,
                      size_t size, const char* defaultValue, SettingsReporter report);

// Same lookup for a 32-bit integer: leading blanks, an optional sign, then
// decimal digits up to the first other byte; no digits give 0, values beyond
// the 32-bit range give the nearest limit. Returns 1 when found, else 0 with
// destination holding defaultValue.
int ReadSettingInt(const char* section, const char* key, int32_t* destination,
                   int32_t defaultValue, SettingsReporter report);

// Puts Settings to its defaults, then reads every row of SettingDefinitions
// from section "[init]" into it, in the table's order, by the rules above;
// problems go to report. Results are not examined: a missing key keeps its
// default.
void LoadSettings(SettingsReporter report);

// In-place text helpers; each returns its argument. White space is the bytes
// 0x09 to 0x0D and 0x20; upper-casing touches only a to z.
char* UpperCase(char* text);
char* TrimLeft(char* text);
char* TrimRight(char* text);
char* Trim(char* text);

#endif
