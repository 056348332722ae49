// Log line, data-file append and message formatting.
#include "log/log.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <chrono>
#include <mutex>

#include "config/paths.h"
#include "config/settings.h"

char MessageBuffer[MessageBufferSize];

// Held while a line goes to the console and the files; taken for good by
// HaltOutput.
static std::timed_mutex OutputLock;

void HaltOutput(void) {
  int saved = errno;
  // A write that hangs (a log file on a stuck device) holds the end of the
  // program up no longer than this; its line may then still come later.
  static_cast<void>(OutputLock.try_lock_for(std::chrono::seconds(1)));
  errno = saved;
}

void LogMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(MessageBuffer, sizeof MessageBuffer, format, args);
  va_end(args);
  LogLine(MessageBuffer);
}

void LogText(const char* text) { LogMessage("%s", text); }

void FormatTimestamp(char* buffer, size_t size) {
  time_t now = time(NULL);
  struct tm local;
  memset(&local, 0, sizeof local);
  const struct tm* broken = localtime(&now);
  if (broken != NULL) local = *broken;
  snprintf(buffer, size, "%2.2d.%2.2d.%4.4d %2.2d:%2.2d:%2.2d ", local.tm_mday,
           local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
}

// Appends text to the file at path, opened for this one write. Returns 1, or
// 0 with the failed open's error number in *code.
static int AppendToFile(const char* text, const char* path, int* code) {
  FILE* file = fopen(path, "a+");
  if (file == NULL) {
    *code = errno;
    return 0;
  }
  fputs(text, file);
  fclose(file);
  return 1;
}

void LogLine(const char* message) {
  // Only a failed open of the log file may leave its code in the process
  // error number; the console and the successful file calls must not.
  int saved = errno;
  char line[LogLineSize];
  FormatTimestamp(line, sizeof line);
  size_t used = strlen(line);
  size_t length = strlen(message);
  if (length > MaxMessageLength) length = MaxMessageLength;
  if (length > sizeof line - used - 2) length = sizeof line - used - 2;
  memcpy(line + used, message, length);
  used += length;
  line[used++] = '\n';
  line[used] = '\0';

  std::lock_guard<std::timed_mutex> hold(OutputLock);
  printf("%s", line);
  fflush(stdout);
  int code = 0;
  if (Settings.WriteLog != 0 && !AppendToFile(line, LogPath, &code)) {
    printf("Cannot open logfile, error %d\n", code);
    fflush(stdout);
    saved = code;
  }
  errno = saved;
}

void AppendLine(const char* text, const char* path) {
  int saved = errno;
  int code = 0;
  std::lock_guard<std::timed_mutex> hold(OutputLock);
  if (!AppendToFile(text, path, &code)) {
    printf("Cannot open file %s, error %d\n", path, code);
    fflush(stdout);
    saved = code;
  }
  errno = saved;
}
