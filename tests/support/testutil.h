// Shared test helpers: a scratch directory, the program's state reset to its
// start-up values, and the messages the program logged.
#ifndef DCFSYNC_TESTS_TESTUTIL_H
#define DCFSYNC_TESTS_TESTUTIL_H

#include <string>
#include <vector>

// A fresh, empty directory for the running test, ending in a separator.
std::string ScratchDirectory();

// Each record of the program at its start through its own reset: the
// system's calls back in the system-call table (the clock setting's recorder
// among them), settings and paths, the run's status, no Ctrl-C request, the
// feed stopped; counters cleared, fake clock reset, and the
// program's files pointed into a fresh scratch directory (base name "t").
// The run's state the tests hand to the poll's decision and its shell.
struct RunState;
extern RunState TestRun;
struct TimeTelegram;

// Decides about telegram with the settings, TestRun and the running
// discipline, its capture taken as the monotonic time too, and carries the
// decision out (DecideTelegram, CarryOutDecision).
void HandleInTest(TimeTelegram telegram);

void ResetProgramState();

// The PC's time zone set to tz (a TZ value) while the scope lasts, the old
// one back after it. POSIX only: on Windows the zone stays as it is.
class ZoneScope {
 public:
  explicit ZoneScope(const char* tz);
  ~ZoneScope();

 private:
  bool had_;
  std::string saved_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

// The lines of text, split at line feeds (carriage returns are kept).
std::vector<std::string> SplitLines(const std::string& text);

// The console's lines, also split where the countdown returns the cursor
// with a bare carriage return.
std::vector<std::string> ConsoleLines(const std::string& text);

// Returns true when line starts with a "dd.mm.yyyy hh:mm:ss " timestamp.
bool HasTimestampPrefix(const std::string& line);

// The message of a log line: the line without its timestamp (TimestampLength
// characters, log/log.h). Fails the running test when the line has none and
// then returns the line as it is.
std::string StripTimestamp(const std::string& line);

// The messages of the time-stamped lines of a console transcript or a log
// file's text, in order; lines without a timestamp ("Ctrl-C to exit", the
// countdown, "Cannot open logfile, ...") are left out.
std::vector<std::string> LogMessages(const std::string& text);

// The messages of the log file at Paths.log; every line must carry a timestamp.
std::vector<std::string> LoggedMessages();

#endif
