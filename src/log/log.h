// Logging: the time-stamped message line on the console and in the log file, lines appended
// to files, console text and the halt at the run's end. Main flow only.
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

// Logs one message (LogLine): printf-style from a literal format, or text as it is.
void LogMessage(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
void LogText(const char* text);

// The local time as "dd.mm.yyyy hh:mm:ss " into buffer (size bytes, terminated).
void FormatTimestamp(char* buffer, size_t size);

// Copies text into out (limit + 1 bytes) with each byte below 0x20 and from 0x7F as \xNN, each
// form whole or not at all, at most limit characters. Returns the count written.
size_t EscapeText(const char* text, char* out, size_t limit);

// Shows timestamp + escaped message (cut to MaxMessageLength) + newline on the console and,
// while WriteLog is on, appends it to Paths.log.
void LogLine(const char* message);

// Appends text unchanged to the file at path. For both: a file's failure becomes the run's
// status, and after one the next line begins a line of its own; the first failure and the
// first success after one go to standard error.
void AppendLine(const char* text, const char* path);

// Forgets which files failed, so the next failure is reported again (tests).
void ResetFileFaults(void);

// Shows text on the console as it stands.
void ConsoleText(const char* text);

// Shows lastText on the console; after it LogLine, AppendLine and ConsoleText show nothing.
void HaltOutput(const char* lastText);

// Logs the system's text for an error number (errno on POSIX, GetLastError on Windows).
void LogSystemError(int code);

#endif
