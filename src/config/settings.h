// The settings file reader and the program's settings.
//
// The settings file (SettingsPath) is a text file with a section line
// "[init]" and key=value lines below it. Every lookup opens the file, scans it
// from the top for the section line, then for the first line that begins with
// the key (any case; "timer" also matches a line beginning "TimerEnable"),
// copies the trimmed text after the first "=" and closes the file. Nothing is
// cached and nothing is ever written back.
#ifndef DCFSYNC_CONFIG_SETTINGS_H
#define DCFSYNC_CONFIG_SETTINGS_H

#include <stddef.h>
#include <stdint.h>

enum {
  PortNameSize = 30,     // 29 characters and the terminator
  SettingLineLength = 253,
  SettingTextSize = 256  // enough for any value a line can hold
};

// The integer settings of section "[init]", each named as its key.
struct SettingsRecord {
  int32_t baud;                 // 19200
  int32_t timer;                // 1 minute between polls
  int32_t TimerEnable;          // 0: poll once
  int32_t century;              // 2000
  int32_t WriteLog;             // 1
  int32_t WriteData;            // 0
  int32_t DCFSetTime;           // 0
  int32_t SynchronizeDiff;      // 100 ms
  int32_t SynchronizeMaxDiff;   // 12 hours
  int32_t ValidDateTimeCount;   // 3
  int32_t TimerGetDecodedTime;  // 0
  int32_t NtpShmUnit;           // -1: no NTP shared-memory feed
  int32_t ClockDiscipline;      // 0: the clock is stepped only (clock/discipline.h)
};

extern const SettingsRecord DefaultSettings;

// Process-wide settings; they hold DefaultSettings until LoadSettings runs.
extern SettingsRecord Settings;

// The "port" setting: the receiver's serial device, e.g. COM1 or /dev/ttyUSB0.
extern char PortName[PortNameSize];

// The "ChronySocket" setting: the path of chronyd's SOCK reference-clock
// socket, whole as written in the file (the feed refuses a path too long
// for a socket address instead of cutting it); empty means no chrony feed.
extern char ChronySocket[SettingTextSize];

// 1 when the last lookup could open SettingsPath and read it (up to the key
// or to its end); 0 when it could not open it or a read failed.
extern int SettingsFileRead;

// Where the reader reports a settings file it cannot open or read: one
// finished message without a line end. The program points it at its log
// before the first lookup; until then it prints the message and a newline on
// standard output.
typedef void (*SettingsReporter)(const char* message);
extern SettingsReporter SettingsReport;

// Looks up key in section of SettingsPath and copies its trimmed value into
// destination (size bytes). Returns 1 when found, else 0 with destination
// holding defaultValue. Failures go to SettingsReport: "Can't open file %s"
// and "Read error %d on %s", and their error number becomes the run's status
// (config/status.h). A value longer than the destination is cut to
// size - 1 characters. A key line without "=" does not match. Sets
// SettingsFileRead.
int ReadSettingString(const char* section, const char* key, char* destination,
                      size_t size, const char* defaultValue);

// Same lookup for a 32-bit integer: leading blanks, an optional sign, then
// decimal digits up to the first other byte; no digits give 0, values beyond
// the 32-bit range give the nearest limit. Returns 1 when found, else 0 with
// destination holding defaultValue.
int ReadSettingInt(const char* section, const char* key, int32_t* destination,
                   int32_t defaultValue);

// Performs the thirteen lookups of section "[init]" in their fixed order
// (port, tz, baud, timer, TimerEnable, century, WriteLog, WriteData,
// DCFSetTime, SynchronizeDiff, SynchronizeMaxDiff, ValidDateTimeCount,
// TimerGetDecodedTime) into PortName and Settings. Results are not examined:
// a missing key keeps its default. Then, only when the last of them could
// open and read the file, the two keys of the time-daemon feed,
// ChronySocket and NtpShmUnit, then ClockDiscipline; otherwise they take
// their defaults without a lookup, so a missing or unreadable file gives
// exactly thirteen lines.
//
// Every key is looked up by prefix, so a key that begins another (timer,
// TimerEnable) reads the other's line when it comes first. A new key must
// neither begin with an existing key nor be the beginning of one; the
// added keys keep to that.
void LoadSettings(void);

// In-place text helpers; each returns its argument. White space is the bytes
// 0x09 to 0x0D and 0x20; upper-casing touches only a to z.
char* UpperCase(char* text);
char* TrimLeft(char* text);
char* TrimRight(char* text);
char* Trim(char* text);

#endif
