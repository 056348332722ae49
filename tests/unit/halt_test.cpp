// Halting the output, as the Ctrl-C handler does, while the main flow is
// writing: the halting line is the console's last, and nothing of the log,
// the data file or the console text (the countdown) comes after it, and the
// writing flow goes no further. A program of its own, since a halt lasts for
// the rest of the process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "config/paths.h"
#include "log/log.h"
#include "support/testutil.h"

namespace {

TEST(HaltOutput, NothingComesAfterTheHaltingLine) {
  ResetProgramState();
  std::atomic<long> shown(0), written(0);
  testing::internal::CaptureStdout();
  // The main flow's two kinds of output, each without pause: the countdown
  // text, and log and data lines.
  std::thread countdown([&] {
    for (;;) {
      ConsoleText("  58 secs left \r");
      ++shown;
    }
  });
  std::thread polls([&] {
    for (;;) {
      LogLine("a log line");
      AppendLine("a data line\n", Paths.data);
      ++written;
    }
  });
  while (shown.load() < 200 || written.load() < 200) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  HaltOutput("\nCtrl-C\n");
  std::string logAtHalt = ReadFile(Paths.log);
  std::string dataAtHalt = ReadFile(Paths.data);
  // Each stops at its next write and goes no further.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  long shownAtStop = shown.load(), writtenAtStop = written.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(shownAtStop, shown.load()) << "the countdown went on after the halt";
  EXPECT_EQ(writtenAtStop, written.load()) << "the polls went on after the halt";
  countdown.detach();  // neither ever returns from its write
  polls.detach();
  // Text mode on Windows writes "\r\n" for each line end.
  std::string console;
  for (char c : testing::internal::GetCapturedStdout()) {
    if (c == '\n' && !console.empty() && console.back() == '\r') console.pop_back();
    console += c;
  }

  const std::string last = "\nCtrl-C\n";
  ASSERT_GE(console.size(), last.size());
  EXPECT_EQ(last, console.substr(console.size() - last.size()));
  EXPECT_EQ(console.size() - last.size(), console.find(last)) << "the halting line came early";
  // The files were left as they were at the halt (the line being written
  // then was finished first).
  EXPECT_EQ(logAtHalt, ReadFile(Paths.log));
  EXPECT_EQ(dataAtHalt, ReadFile(Paths.data));
}

}  // namespace
