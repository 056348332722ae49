// Logging: the time-stamped message line on the console and in the log file,
// a line appended to a file, console text, the halt at the run's end, and
// the system's text for an error number. Files are opened for one line and
// closed again; nothing is ever truncated. Main flow only.
#ifndef DCFSYNC_LOG_LOG_H
#define DCFSYNC_LOG_LOG_H

#include <stddef.h>
#include <stdint.h>

enum {
  MessageBufferSize = 1135,
  LogLineSize = 1024,
  TimestampLength = 20,  // "dd.mm.yyyy hh:mm:ss "
  MaxMessageLength = LogLineSize - TimestampLength - 2
};

// Formats printf-style into MessageBufferSize bytes and logs it (LogLine).
// The format is a literal of the program, never outside text.
void LogMessage(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Logs text as one message (LogLine); the settings reader's reporter.
void LogText(const char* text);

// The local date and time as "dd.mm.yyyy hh:mm:ss " into buffer (size bytes,
// terminated).
void FormatTimestamp(char* buffer, size_t size);

// Copies text into out (limit + 1 bytes at least, terminated) as a terminal
// may show it: each byte below 0x20, 0x7F and from 0x80 as \xNN, each form
// whole or not at all, at most limit characters. Returns the count written.
size_t EscapeText(const char* text, char* out, size_t limit);

// Shows timestamp + message (as EscapeText shows it, cut to
// MaxMessageLength) + newline on the console and, while WriteLog is on,
// appends it to Paths.log. A failure of the log file is stored as the run's
// status (StatusFromFailedCall); console output never changes the status.
void LogLine(const char* message);

// Appends text unchanged to the file at path (created when missing). A
// failure is stored as the run's status.
// For both: after a failure of its file, the next line begins a line of its
// own when the file ends within a line; a file's first failure and its first
// success after one also go to standard error (a service's journal).
void AppendLine(const char* text, const char* path);

// Forgets which files failed: the next failure is reported again (tests).
void ResetFileFaults(void);

// Shows text on the console as it stands (no timestamp, never logged).
void ConsoleText(const char* text);

// Shows lastText on the console as its last text: from then on, for the rest
// of the process, LogLine, AppendLine and ConsoleText return at once without
// any output.
void HaltOutput(const char* lastText);

// Logs the system's own text for an error number (GetLastError on Windows,
// errno on POSIX). One implementation per platform.
void LogSystemError(int code);

#endif
