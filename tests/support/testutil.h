// Shared test helpers: a scratch directory, the program's state reset to its
// start-up values, and the messages the program logged.
#ifndef DCFSYNC_TESTS_TESTUTIL_H
#define DCFSYNC_TESTS_TESTUTIL_H

#include <string>
#include <vector>

// A fresh, empty directory for the running test, ending in a separator.
std::string ScratchDirectory();

// Settings at their defaults, counters cleared, fake clock reset, and the
// program's files pointed into a fresh scratch directory (base name "t").
void ResetProgramState();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

// The lines of the log file with their 20-character timestamp removed.
std::vector<std::string> LoggedMessages();

// Returns true when line starts with a "dd.mm.yyyy hh:mm:ss " timestamp.
bool HasTimestampPrefix(const std::string& line);

#endif
