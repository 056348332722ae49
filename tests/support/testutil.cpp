#include "support/testutil.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "clock/evaluate.h"
#include "driver/discipline_shell.h"
#include "driver/poll.h"
#include "config/paths.h"
#include "config/settings.h"
#include "config/status.h"
#include "log/log.h"
#include "os/monotonic.h"
#include "os/wake.h"
#include "refclock/refclock.h"
#include "support/fake_clockset.h"

namespace fs = std::filesystem;

std::string ScratchDirectory() {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "_" + info->name() : "scratch";
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  fs::path dir = fs::path(testing::TempDir()) / ("dcfsync_" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::string text = dir.string();
  char separator = (char)fs::path::preferred_separator;
  if (text.empty() || text.back() != separator) text += separator;
  return text;
}

static void SetPath(char* target, const std::string& value) {
  snprintf(target, PathTextSize, "%s", value.c_str());
}

// Before the first test of every test program: the clock-setting call's
// recorder in the system-call table, so that no test can reach the real one.
namespace {
class FakeClockEnvironment : public testing::Environment {
 public:
  void SetUp() override { ResetFakeClock(); }
};
testing::Environment* const InstalledFakeClock =
    testing::AddGlobalTestEnvironment(new FakeClockEnvironment);
}  // namespace

RunState TestRun;

void HandleInTest(TimeTelegram telegram) {
  PollDecision decision;
  StartDecision(&decision);
  int64_t captureMonoMs = telegram.capture.time * 1000 + telegram.capture.millitm;
  DecideTelegram(&telegram, captureMonoMs, &Settings, &TestRun.counting, &TestRun.chain,
                 RunningDiscipline(&TestRun.loop), &decision);
  CarryOutDecision(&TestRun, &decision);
}

void ResetProgramState() {
  ResetTestOsCalls();
  ResetSettings();
  ResetPaths();
  ResetRunStatus();
  StopWake();
  ResetMonotonic();
  StopReferenceFeed();
  StopClockLoop(&TestRun.loop);  // no clock discipline
  ResetFileFaults();
  ResetRunState(&TestRun);
  ResetFakeClock();
  std::string dir = ScratchDirectory();
  SetPath(Paths.settings, dir + "t.ini");
  SetPath(Paths.log, dir + "t.log");
  SetPath(Paths.data, dir + "t.dat");
  SetPath(Paths.drift, dir + "t.drift");
}

#ifdef _WIN32
ZoneScope::ZoneScope(const char*) : had_(false) {}
ZoneScope::~ZoneScope() {}
#else
ZoneScope::ZoneScope(const char* tz) {
  const char* old = getenv("TZ");
  had_ = old != NULL;
  if (had_) saved_ = old;
  setenv("TZ", tz, 1);
  tzset();
}
ZoneScope::~ZoneScope() {
  if (had_) {
    setenv("TZ", saved_.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}
#endif

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

bool FileExists(const std::string& path) { return fs::exists(path); }

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> ConsoleLines(const std::string& text) {
  std::vector<std::string> lines;
  for (const std::string& line : SplitLines(text)) {
    for (size_t from = 0;;) {
      size_t cr = line.find('\r', from);
      lines.push_back(line.substr(from, cr == std::string::npos ? cr : cr - from));
      if (cr == std::string::npos) break;
      from = cr + 1;
    }
  }
  return lines;
}

std::string StripTimestamp(const std::string& line) {
  EXPECT_TRUE(HasTimestampPrefix(line)) << "no timestamp: " << line;
  return HasTimestampPrefix(line) ? line.substr(TimestampLength) : line;
}

std::vector<std::string> LogMessages(const std::string& text) {
  std::vector<std::string> messages;
  for (const std::string& line : ConsoleLines(text)) {
    if (HasTimestampPrefix(line)) messages.push_back(line.substr(TimestampLength));
  }
  return messages;
}

std::vector<std::string> LoggedMessages() {
  std::vector<std::string> messages;
  for (std::string line : SplitLines(ReadFile(Paths.log))) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // text mode on Windows
    messages.push_back(StripTimestamp(line));
  }
  return messages;
}

bool HasTimestampPrefix(const std::string& line) {
  static const char pattern[] = "dd.dd.dddd dd:dd:dd ";
  static_assert(sizeof pattern - 1 == TimestampLength, "the log's timestamp");
  if (line.size() < TimestampLength) return false;
  for (size_t i = 0; i < TimestampLength; ++i) {
    char p = pattern[i];
    if (p == 'd' ? !(line[i] >= '0' && line[i] <= '9') : line[i] != p) return false;
  }
  return true;
}
