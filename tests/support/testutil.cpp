#include "support/testutil.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "clock/evaluate.h"
#include "config/paths.h"
#include "config/settings.h"
#include "log/log.h"
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

void ResetProgramState() {
  Settings = DefaultSettings;
  SettingsReport = LogText;  // as the program sets it
  PortName[0] = '\0';
  ContValidTime = 0;
  memset(&LastTelegram, 0, sizeof LastTelegram);
  ResetFakeClock();
  std::string dir = ScratchDirectory();
  SetPath(SettingsPath, dir + "t.ini");
  SetPath(LogPath, dir + "t.log");
  SetPath(DataPath, dir + "t.dat");
}

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

std::vector<std::string> LoggedMessages() {
  std::vector<std::string> messages;
  std::istringstream in(ReadFile(LogPath));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    EXPECT_TRUE(HasTimestampPrefix(line)) << line;
    messages.push_back(line.size() >= 20 ? line.substr(20) : line);
  }
  return messages;
}

bool HasTimestampPrefix(const std::string& line) {
  static const char pattern[] = "dd.dd.dddd dd:dd:dd ";
  if (line.size() < 20) return false;
  for (int i = 0; i < 20; ++i) {
    char p = pattern[i];
    if (p == 'd' ? !(line[i] >= '0' && line[i] <= '9') : line[i] != p) return false;
  }
  return true;
}
