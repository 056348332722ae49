// Golden console transcripts (tests/e2e/golden/): one file per end-to-end
// scenario, shared with the Windows runner. The pattern language is
// described in tests/e2e/golden/README.md.
#ifndef DCFSYNC_TESTS_GOLDEN_H
#define DCFSYNC_TESTS_GOLDEN_H

#include <map>
#include <string>
#include <vector>

// The values of a run's named placeholders: {"PORT", "/dev/pts/3"}, ...
typedef std::map<std::string, std::string> GoldenValues;

// The regular expression (ECMAScript, and within what POSIX ERE also reads)
// that one golden line stands for. An unknown placeholder fails the running
// test.
std::string GoldenRegex(const std::string& line, const GoldenValues& values);

// The lines of the scenario's golden file, comments left out; fails the
// running test when the file is missing or empty.
std::vector<std::string> GoldenLines(const std::string& scenario);

// Checks the console output (line feeds, with or without carriage returns)
// against the scenario's golden transcript: as many lines, each matching its
// pattern. Returns true when all matched.
bool ExpectTranscript(const std::string& scenario, const std::string& console,
                      const GoldenValues& values);

// Checks that the log file's text holds exactly the console's time-stamped
// lines, in order.
void ExpectLogIsConsole(const std::string& log, const std::string& console);

#endif
