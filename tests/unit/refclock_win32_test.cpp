// The feed to the time daemon on Windows: the two keys are read like every
// other, and then ignored. Starting the feed with values the POSIX feed
// refuses logs nothing, and a trusted telegram gives the evaluation's own
// lines only.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "clock/evaluate.h"
#include "config/paths.h"
#include "config/settings.h"
#include "refclock/refclock.h"
#include "support/testutil.h"

namespace {

TEST(ReferenceFeedOnWindows, KeysAreReadAndIgnored) {
  ResetProgramState();
  const std::string tooLong = "C:\\" + std::string(200, 's');
  WriteFile(SettingsPath, "[init]\nChronySocket=" + tooLong + "\nNtpShmUnit=300\n");
  LoadSettings();
  EXPECT_EQ(tooLong, std::string(ChronySocket));
  EXPECT_EQ(300, Settings.NtpShmUnit);
  StartReferenceFeed();

  Settings.ValidDateTimeCount = 1;
  TimeTelegram t = {};
  t.S = 1;
  t.Z2 = 1;
  t.year = 2026;
  t.month = 12;
  t.day = 9;
  t.hour = 8;
  t.valid = 1;
  t.capture.time = 1796803200;
  HandleInTest(t);
  std::vector<std::string> log = LoggedMessages();
  ASSERT_EQ(3u, log.size());
  EXPECT_EQ(0u, log[2].rfind("Time diff: ", 0)) << log[2];
  StopReferenceFeed();
}

}  // namespace
