// Halting the output at the end of a run by Ctrl-C: the halting line is the
// console's last, and a console text, log line or data line after it returns
// at once and writes nothing. A program of its own, since a halt lasts for
// the rest of the process.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "config/paths.h"
#include "config/settings.h"
#include "log/log.h"
#include "support/testutil.h"

namespace {

TEST(HaltOutput, NothingComesAfterTheHaltingLineAndNoWriteHangs) {
  ResetProgramState();
  Settings.WriteLog = 1;
  testing::internal::CaptureStdout();
  LogLine("before the halt");
  AppendLine("data before the halt\n", Paths.data);
  HaltOutput("\nCtrl-C\n");
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 100; ++i) {
    ConsoleText("  58 secs left \r");
    LogMessage("after the halt %d", i);
    AppendLine("data after the halt\n", Paths.data);
  }
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 1.0) << "a write after the halt must return at once";
  // Text mode on Windows writes "\r\n" for each line end.
  std::string console;
  for (char c : testing::internal::GetCapturedStdout()) {
    if (c == '\n' && !console.empty() && console.back() == '\r') console.pop_back();
    console += c;
  }
  const std::string last = "\nCtrl-C\n";
  ASSERT_GE(console.size(), last.size());
  EXPECT_EQ(console.size() - last.size(), console.find(last)) << console;
  EXPECT_EQ(LogMessages(ReadFile(Paths.log)), std::vector<std::string>{"before the halt"});
  std::string data = ReadFile(Paths.data);  // "\r\n" line ends on Windows
  EXPECT_EQ(data.rfind("data before the halt", 0), 0u) << data;
  EXPECT_EQ(data.find("after"), std::string::npos) << data;
}

}  // namespace
