// The log line, the data-file append and the console.
#include "log/log.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include "config/paths.h"
#include "config/settings.h"
#include "config/status.h"
#include "os/files.h"

// Halted for good by HaltOutput; which file is failing (from a failure until a whole write).
static struct {
  int halted;
  int logFailing;
  int dataFailing;
} Output;

void ResetFileFaults(void) {
  Output.logFailing = 0;
  Output.dataFailing = 0;
}

void HaltOutput(const char* lastText) {
  Output.halted = 1;
  printf("%s", lastText);
  fflush(stdout);
}

void ConsoleText(const char* text) {
  if (Output.halted) return;
  printf("%s", text);
  fflush(stdout);
}

void LogMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char message[MessageBufferSize];
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  LogLine(message);
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

size_t EscapeText(const char* text, char* out, size_t limit) {
  size_t used = 0;
  for (const unsigned char* p = (const unsigned char*)text; *p != 0; ++p) {
    int plain = *p >= 0x20 && *p < 0x7F;
    if (used + (plain ? 1 : 4) > limit) break;
    if (plain) {
      out[used++] = (char)*p;
    } else {
      snprintf(out + used, 5, "\\x%.2X", *p);
      used += 4;
    }
  }
  out[used] = '\0';
  return used;
}

// Whether the regular file ends within a line (a write was cut short). Leaves it at its end.
static int EndsWithinLine(FILE* file) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return 0;
  if (fseek(file, -1, SEEK_END) != 0) return 0;
  int last = fgetc(file);
  fseek(file, 0, SEEK_END);
  return last != EOF && last != '\n';
}

static int Failure(void) { return errno != 0 ? errno : EIO; }

// Opens the file for this one write, appends text (after a failure on a line of its own) and
// closes it. Returns 0 or the error of the first failed call (*opened 0 when the open failed).
static int AppendToFile(const char* text, const char* path, int failing, int* opened) {
  FILE* file = OsOpenFile(path, "a+");
  *opened = file != NULL;
  if (file == NULL) return Failure();
  int failed = 0;
  if (failing != 0 && EndsWithinLine(file) && fputc('\n', file) == EOF) failed = Failure();
  if (failed == 0 && OsPutText(text, file) == EOF) failed = Failure();
  // A full disk shows only when the stream's buffer is flushed.
  if (OsFlushFile(file) != 0 && failed == 0) failed = Failure();
  if (OsCloseFile(file) != 0 && failed == 0) failed = Failure();
  return failed;
}

// Appends text to path and reports a failed open on the console, a file's first failure and
// first success after one on standard error (the journal), a failure as the run's status.
static void WriteLine(const char* text, const char* path, int* failing, int isLog) {
  int opened = 0;
  int failed = AppendToFile(text, path, *failing, &opened);
  char shown[LogLineSize];
  EscapeText(path, shown, sizeof shown - 1);
  if (!opened && isLog) printf("Cannot open logfile, error %d\n", failed);
  if (!opened && !isLog) printf("Cannot open file %s, error %d\n", shown, failed);
  fflush(stdout);
  const char* what = isLog ? "log file" : "data file";
  if (failed != 0 && *failing == 0) {
    fprintf(stderr, "dcfsync: %s %s: error %d\n", what, shown, failed);
  } else if (failed == 0 && *failing != 0) {
    fprintf(stderr, "dcfsync: %s %s works again\n", what, shown);
  }
  fflush(stderr);
  *failing = failed != 0;
  if (failed != 0) StatusFromFailedCall(failed);
}

void LogLine(const char* message) {
  char line[LogLineSize];
  FormatTimestamp(line, sizeof line);
  size_t used = strlen(line);
  size_t room = sizeof line - used - 2;
  if (room > MaxMessageLength) room = MaxMessageLength;
  used += EscapeText(message, line + used, room);
  line[used++] = '\n';
  line[used] = '\0';
  if (Output.halted) return;
  printf("%s", line);
  fflush(stdout);
  if (Settings.WriteLog != 0) WriteLine(line, Paths.log, &Output.logFailing, 1);
}

void AppendLine(const char* text, const char* path) {
  if (!Output.halted) WriteLine(text, path, &Output.dataFailing, 0);
}
