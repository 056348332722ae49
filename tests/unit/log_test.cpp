// Logging: the time-stamped line on the console and in the log file, the
// appended data line, and the system's text for an error code.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "config/paths.h"
#include "config/settings.h"
#include "config/status.h"
#include "link/exchange.h"
#include "log/log.h"
#include "support/testutil.h"

namespace {

// Text as written in text mode, with "\r\n" turned back into "\n".
std::string Unix(std::string text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

std::string Logged(const char* message) {
  testing::internal::CaptureStdout();
  LogLine(message);
  return Unix(testing::internal::GetCapturedStdout());
}

// The timestamp of t as the program should write it, computed independently.
std::string Stamp(time_t t) {
  char text[32];
  strftime(text, sizeof text, "%d.%m.%Y %H:%M:%S ", localtime(&t));
  return text;
}

class Logging : public ::testing::Test {
 protected:
  void SetUp() override { ResetProgramState(); }
};

TEST_F(Logging, LineGoesToConsoleAndLogFileWithLocalTimePrefix) {
  time_t before = time(nullptr);
  std::string console = Logged("Receive error!");
  time_t after = time(nullptr);
  ASSERT_EQ(console.size(), 20u + 14u + 1u) << console;
  EXPECT_TRUE(HasTimestampPrefix(console)) << console;
  std::string prefix = console.substr(0, TimestampLength);
  EXPECT_TRUE(prefix == Stamp(before) || prefix == Stamp(after)) << prefix;
  EXPECT_EQ(StripTimestamp(console), "Receive error!\n");
  EXPECT_EQ(Unix(ReadFile(Paths.log)), console);

  // An empty message leaves the prefix with its blank and the newline.
  console = Logged("");
  EXPECT_EQ(console.size(), 21u);
  EXPECT_TRUE(HasTimestampPrefix(console));
  EXPECT_EQ(LoggedMessages(), (std::vector<std::string>{"Receive error!", ""}));
}

TEST_F(Logging, LogFileIsCreatedThenExtendedNeverOverwritten) {
  ASSERT_FALSE(FileExists(Paths.log));
  Logged("first");
  EXPECT_EQ(LoggedMessages(), std::vector<std::string>{"first"});
  Logged("second");
  EXPECT_EQ(LoggedMessages(), (std::vector<std::string>{"first", "second"}));

  WriteFile(Paths.log, "01.01.2020 00:00:00 earlier run\n");
  Logged("third");
  EXPECT_EQ(LoggedMessages(), (std::vector<std::string>{"earlier run", "third"}));
}

TEST_F(Logging, LongMessagesAreCutTo1002Characters) {
  std::string fits(1002, 'a');
  EXPECT_EQ(StripTimestamp(Logged(fits.c_str())), fits + "\n");

  std::string tooLong = std::string(1002, 'b') + std::string(998, 'c');
  std::string console = Logged(tooLong.c_str());
  EXPECT_EQ(StripTimestamp(console), std::string(1002, 'b') + "\n");
  EXPECT_EQ(LoggedMessages(), (std::vector<std::string>{fits, std::string(1002, 'b')}));

  // LogMessage formats into a bounded buffer without running past it.
  testing::internal::CaptureStdout();
  LogMessage("%s|%d", std::string(2000, 'x').c_str(), 5);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(LoggedMessages().back(), std::string(1002, 'x'));
}

TEST_F(Logging, RunStatusIsKeptWhenNothingFails) {
  RunStatus = 12345;
  Logged("written");
  EXPECT_EQ(RunStatus, 12345);
  EXPECT_EQ(LoggedMessages(), std::vector<std::string>{"written"});

  // WriteLog off: the console only, and no file is created.
  ResetProgramState();
  Settings.WriteLog = 0;
  RunStatus = 0;
  EXPECT_EQ(StripTimestamp(Logged("console only")), "console only\n");
  EXPECT_EQ(RunStatus, 0);
  EXPECT_FALSE(FileExists(Paths.log));
}

TEST_F(Logging, LogFileThatCannotBeOpenedIsReportedOnTheConsole) {
  const std::string dir = ScratchDirectory() + "later";
  const std::string path = dir + (char)std::filesystem::path::preferred_separator + "t.log";
  snprintf(Paths.log, PathTextSize, "%s", path.c_str());
  RunStatus = 0;
  std::string console = Logged("lost line");
  int code = RunStatus;
  EXPECT_NE(code, 0);
  EXPECT_EQ(StripTimestamp(console),
            "lost line\nCannot open logfile, error " + std::to_string(code) + "\n");
  EXPECT_FALSE(FileExists(path));

  // The next line tries the file again.
  std::filesystem::create_directory(dir);
  RunStatus = 77;
  console = Logged("kept line");
  EXPECT_EQ(StripTimestamp(console), "kept line\n");
  EXPECT_EQ(RunStatus, 77);
  EXPECT_EQ(LoggedMessages(), std::vector<std::string>{"kept line"});
}

TEST_F(Logging, AppendLineAddsTheTextUnchanged) {
  const std::string path = ScratchDirectory() + "t.dat";
  RunStatus = 999;
  testing::internal::CaptureStdout();
  AppendLine("one ", path.c_str());
  AppendLine("two\n", path.c_str());
  AppendLine("", path.c_str());
  AppendLine("three\n", path.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(RunStatus, 999);
  EXPECT_EQ(Unix(ReadFile(path)), "one two\nthree\n");
  EXPECT_FALSE(FileExists(Paths.log));
}

TEST_F(Logging, AppendLineReportsAFileThatCannotBeOpened) {
  // A directory stands in for the file: it can never be opened for appending.
  const std::string path = ScratchDirectory() + "t.dat";
  std::filesystem::create_directory(path);
  RunStatus = 0;
  testing::internal::CaptureStdout();
  AppendLine("data\n", path.c_str());
  std::string console = Unix(testing::internal::GetCapturedStdout());
  int code = RunStatus;
  EXPECT_NE(code, 0);
  EXPECT_EQ(console, "Cannot open file " + path + ", error " + std::to_string(code) + "\n");
  EXPECT_TRUE(std::filesystem::is_directory(path));
  EXPECT_FALSE(FileExists(Paths.log));
}

// Bytes from outside (the module, the settings, file names) cannot steer a
// terminal: control bytes, DEL and bytes from 0x80 on are shown as \xNN.
TEST_F(Logging, ControlBytesAreShownAsHexEscapes) {
  struct Case {
    const char* text;
    size_t limit;
    const char* shown;
  };
  const Case cases[] = {
      {"DCFSIM 1.0 ~ %s \\", 99, "DCFSIM 1.0 ~ %s \\"},
      {"\x1b[2J\x07\t\x7f\x80\xff", 99, "\\x1B[2J\\x07\\x09\\x7F\\x80\\xFF"},
      {"ab\x1b", 5, "ab"},  // an escape is written whole or not at all
      {"ab\x1b", 6, "ab\\x1B"},
  };
  for (const Case& c : cases) {
    char out[100];
    size_t length = EscapeText(c.text, out, c.limit);
    EXPECT_EQ(std::string(c.shown), out) << c.text;
    EXPECT_EQ(strlen(c.shown), length);
  }

  // On the console and in the log alike.
  std::string console = Logged("title \x1b]0;owned\x07 \xc3\xa9");
  EXPECT_EQ(StripTimestamp(console), "title \\x1B]0;owned\\x07 \\xC3\\xA9\n");
  // The module's identification: <CR> and <LF> by name, a zero byte left out.
  const unsigned char ident[] = {'I', 'D', 0x1b, 'c', 0x00, 0x9b, 0x0d, 0x0a};
  testing::internal::CaptureStdout();
  DumpFrame(ident, (int)sizeof ident, DumpText);
  testing::internal::GetCapturedStdout();
  std::vector<std::string> want = {"title \\x1B]0;owned\\x07 \\xC3\\xA9",
                                   "ID\\x1Bc\\x9B<CR><LF>"};
  EXPECT_EQ(LoggedMessages(), want);
}

// The message of the single line LogSystemError logged, its line ends removed.
std::string SystemErrorMessage(uint32_t code) {
  testing::internal::CaptureStdout();
  LogSystemError(code);
  testing::internal::GetCapturedStdout();
  std::string line = ReadFile(Paths.log);
  EXPECT_TRUE(HasTimestampPrefix(line)) << line;
  std::string message = line.substr(std::min<size_t>(20, line.size()));
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  EXPECT_EQ(message.find('\n'), std::string::npos) << message;
  std::filesystem::remove(Paths.log);
  return message;
}

TEST_F(Logging, SystemErrorTextIsLogged) {
  const bool posix = std::filesystem::path::preferred_separator == '/';
  std::string known = SystemErrorMessage(2);
  EXPECT_FALSE(known.empty());
  if (posix) {
    EXPECT_EQ(known, strerror(2));
  }

  // A code without a text of its own still names the code.
  std::string unknown = SystemErrorMessage(99999);
  EXPECT_NE(unknown.find("99999"), std::string::npos) << unknown;
  if (posix) {
    EXPECT_EQ(unknown, strerror(99999));
  }
}

}  // namespace

namespace {

// A disk that is full: the file opens, but what is written never gets out.
// Where there is no such device (Windows without Wine's mapping of it), the
// test is skipped.
TEST_F(Logging, WriteThatFailsOnAFullDiskBecomesTheRunStatus) {
  const char full[] = "/dev/full";
  if (!std::filesystem::exists(full)) GTEST_SKIP() << "no " << full;
  const std::string good = Paths.log;
  snprintf(Paths.log, PathTextSize, "%s", full);
  RunStatus = 0;
  // The line reaches the console; the log opened, so no "Cannot open" line.
  // Standard error (a service's journal) hears of the first failure only.
  testing::internal::CaptureStderr();
  EXPECT_EQ(StripTimestamp(Logged("lost to a full disk")), "lost to a full disk\n");
  Logged("lost again");
  EXPECT_EQ(RunStatus, ENOSPC);

  // A later line that is written keeps the status as it is.
  snprintf(Paths.log, PathTextSize, "%s", good.c_str());
  Logged("written");
  Logged("written again");
  EXPECT_EQ(RunStatus, ENOSPC);
  EXPECT_EQ(LoggedMessages(), (std::vector<std::string>{"written", "written again"}));
  EXPECT_EQ(Unix(testing::internal::GetCapturedStderr()),
            "dcfsync: log file /dev/full: error 28\ndcfsync: log file " + good + " works again\n");

  // The data file likewise, its open succeeded: nothing on the console.
  RunStatus = 0;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  AppendLine("data\n", full);
  AppendLine("data\n", full);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(Unix(testing::internal::GetCapturedStderr()), "dcfsync: data file /dev/full: error 28\n");
  EXPECT_EQ(RunStatus, ENOSPC);
}

}  // namespace
