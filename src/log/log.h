// Logging: the time-stamped message line, appending a line to a file, and
// the system's text for an error code.
//
// Every message is formatted into a buffer of its own first and handed to
// LogLine, which puts the local date and time in front of it, shows it on
// the console and, while the WriteLog setting is on, appends it to the log
// file at Paths.log. Files are opened for one line and closed again at once;
// nothing here is ever truncated.
#ifndef DCFSYNC_LOG_LOG_H
#define DCFSYNC_LOG_LOG_H

#include <stddef.h>
#include <stdint.h>

// Size of a message's buffer and of one log line.
enum {
  MessageBufferSize = 1135,
  LogLineSize = 1024,
  // The prefix "dd.mm.yyyy hh:mm:ss " is 20 characters; a message may hold
  // at most this many characters, anything beyond is cut off.
  TimestampLength = 20,
  MaxMessageLength = LogLineSize - TimestampLength - 2
};

// Formats printf-style into MessageBufferSize bytes (always bounded and
// terminated) and logs the result with LogLine. The format must be a
// literal of the program, never text that came from a file or the module.
void LogMessage(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Logs text unchanged as one message (cut to MessageBufferSize - 1 bytes,
// through LogLine).
// The program hands it to the settings reader as its reporter.
void LogText(const char* text);

// Writes the current local date and time as "dd.mm.yyyy hh:mm:ss " (with the
// trailing blank) into buffer, never more than size bytes, terminated.
void FormatTimestamp(char* buffer, size_t size);

// Copies text into out as it may be shown on a terminal: each byte below
// 0x20, 0x7F and each byte from 0x80 on as \xNN (two upper-case hexadecimal
// digits), every other byte as it is. At most limit characters are written,
// and a byte's form whole or not at all; out (limit + 1 bytes at least) is
// terminated. Returns the number of characters written.
size_t EscapeText(const char* text, char* out, size_t limit);

// Shows prefix + message + newline on the console and, while WriteLog is on,
// appends the same line to Paths.log. The message is written as EscapeText
// shows it (text from the module, the settings or file names cannot steer a
// terminal), cut to at most MaxMessageLength characters. When the log file
// cannot be opened the console also gets "Cannot open logfile, error %d\n".
// A failed open, write, flush or close of the log file stores its error
// number as the run's status (config/status.h); console output never changes
// the status.
void LogLine(const char* message);

// Appends text unchanged to the file at path (opened for appending, created
// when missing, closed at once). When the file cannot be opened the console
// gets "Cannot open file %s, error %d\n" (the path as EscapeText shows it).
// A failed open, write, flush or close stores its error number as the run's
// status.
//
// After a failure of its file, LogLine or AppendLine begins a line of its
// own when the file ends within a line (a write cut short by a full disk or
// a size limit): a line end is written first. The first failure of the log file (LogLine)
// or of the data file (AppendLine) is also written to standard error, where
// a service manager keeps it ("dcfsync: log file PATH: error N",
// "dcfsync: data file PATH: error N"), and so is the first success after
// one ("dcfsync: log file PATH works again", likewise for the data file).
void AppendLine(const char* text, const char* path);

// Forgets which of the files failed (for a new run in the same process, as
// tests make): the next failure is reported again.
void ResetFileFaults(void);

// Shows text as it stands on the console (no timestamp, never logged), in
// turn with the lines of LogLine; nothing once output has been halted.
void ConsoleText(const char* text);

// Lets no line of LogLine, AppendLine or ConsoleText through any more, for
// the rest of the process, once the line being written (if any) is complete
// (waiting for that at most a second), then shows lastText on the console.
// A thread that calls one of them after that stops in it for good. The
// Ctrl-C handler calls it so that its own line is the console's last: the
// flow it interrupts shows and logs nothing after it, and goes no further.
void HaltOutput(const char* lastText);

// Logs the system's own text for an error code (GetLastError on Windows,
// errno on POSIX). Implemented once per platform.
void LogSystemError(uint32_t code);

#endif
