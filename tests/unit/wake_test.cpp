// The wake-up by Ctrl-C: a wait runs its time without a request and ends at
// once with one, also when the request comes from another thread while it
// waits (the Windows console thread; on POSIX the signal handler).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "os/wake.h"
#include "support/testutil.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return (long long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
      .count();
}

class WakeTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetProgramState();
    ASSERT_EQ(StartWake(), 0);
  }
  void TearDown() override { StopWake(); }
};

TEST_F(WakeTest, AWaitRunsItsTimeUntilTheRequestThenEndsAtOnce) {
  EXPECT_EQ(WakeRequested(), 0);
  EXPECT_EQ(MsSinceWake(), 0);
  Clock::time_point start = Clock::now();
  EXPECT_EQ(WaitForWake(200), 0);
  EXPECT_GE(MsSince(start), 190);

  // A request from another thread while the wait runs.
  start = Clock::now();
  std::thread requester([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    RequestWake();
  });
  EXPECT_EQ(WaitForWake(10000), 1);
  requester.join();
  EXPECT_LT(MsSince(start), 5000);
  EXPECT_EQ(WakeRequested(), 1);

  // Every later wait ends at once; the time since the request grows.
  start = Clock::now();
  EXPECT_EQ(WaitForWake(10000), 1);
  EXPECT_LT(MsSince(start), 1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_GE(MsSinceWake(), 40);

  // Stopped: the request is forgotten.
  StopWake();
  EXPECT_EQ(WakeRequested(), 0);
}

}  // namespace
