// The POSIX clock: setting the clock from UTC and adjusting its rate, whose system calls are
// replaced by recording stubs in the system-call table here.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/timex.h>
#include <time.h>

#include <string>

#include "clock/adjust.h"
#include "clock/pcclock.h"
#include "os/oscalls_posix.h"

namespace {

struct SetCall {
  int calls;
  clockid_t clock;
  struct timespec value;
  int failWith;  // errno to fail with, 0 to succeed
} Stub;

}  // namespace

// Takes the place of clock_settime in the system-call table, so the
// machine's clock is never touched. The test also runs without the privilege
// to set the clock, so even a missed stub could not change it.
int RecordClockSet(clockid_t clock, const struct timespec* value) {
  ++Stub.calls;
  Stub.clock = clock;
  Stub.value = *value;
  if (Stub.failWith != 0) {
    errno = Stub.failWith;
    return -1;
  }
  return 0;
}

namespace {

class WithTimeZone : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    hadTz_ = tz != NULL;
    if (hadTz_) savedTz_ = tz;
    Stub = SetCall();
    Os.SetClock = RecordClockSet;
  }
  void TearDown() override {
    ResetOsCalls();
    if (hadTz_) setenv("TZ", savedTz_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  static void Use(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }

 private:
  bool hadTz_ = false;
  std::string savedTz_;
};

TEST_F(WithTimeZone, SetsTheUtcInstantWhateverTheLocalTime) {
  // Both passes of 02:30 on the autumn change day, and the first minute of
  // summer time: each instant goes to the system call as it is.
  const int64_t instants[] = {1792888200, 1792891800, 1774746000, 0};
  for (const char* tz : {"Europe/Berlin", "UTC", "America/New_York"}) {
    Use(tz);
    for (int64_t seconds : instants) {
      ASSERT_EQ(SetPcUtcTime(seconds, 250), 0) << tz << " " << seconds;
      ASSERT_GE(Stub.calls, 1) << "the stub must stand in for the system call";
      EXPECT_EQ(Stub.clock, CLOCK_REALTIME);
      EXPECT_EQ(Stub.value.tv_sec, (time_t)seconds) << tz;
      EXPECT_EQ(Stub.value.tv_nsec, 250000000L) << tz;
    }
  }
  ASSERT_EQ(SetPcUtcTime(1796736917, 999), 0);
  EXPECT_EQ(Stub.value.tv_nsec, 999000000L);
}

TEST_F(WithTimeZone, FailuresGiveTheSystemCode) {
  Use("UTC");
  Stub.failWith = EPERM;
  EXPECT_EQ(SetPcUtcTime(1796736917, 500), (uint32_t)EPERM);

  // What no clock can take never reaches the system.
  Stub.failWith = 0;
  int callsBefore = Stub.calls;
  const struct { int64_t seconds; int32_t ms; } impossible[] = {
      {-1, 0}, {1796736917, 1000}, {1796736917, -1}, {INT64_MIN, 0}};
  for (const auto& i : impossible) {
    EXPECT_EQ(SetPcUtcTime(i.seconds, i.ms), (uint32_t)EINVAL) << i.seconds << " " << i.ms;
  }
  EXPECT_EQ(Stub.calls, callsBefore);
}

}  // namespace

namespace {

struct AdjustCall {
  unsigned modes;
  long freq;
  long offset;
};
struct AdjustStub {
  int calls;
  AdjustCall call[4];
  int failWith;  // errno to fail with, 0 to succeed
} Adjusts;

// Takes the place of clock_adjtime in the system-call table likewise.
int RecordAdjust(clockid_t clock, struct timex* request) {
  if (clock != CLOCK_REALTIME) return -1;
  if (Adjusts.calls < 4) Adjusts.call[Adjusts.calls] = {request->modes, request->freq, request->offset};
  ++Adjusts.calls;
  if (Adjusts.failWith != 0) {
    errno = Adjusts.failWith;
    return -1;
  }
  return TIME_OK;
}

// The frequency in 2^-16 ppm, then the single-shot slew in microseconds, the
// kernel's sign (positive: forward); the end of a slew is a slew of 0.
TEST(AdjustPosix, FrequencyThenSlewAndTheEndOfASlew) {
  Adjusts = AdjustStub();
  Os.AdjustClock = RecordAdjust;
  EXPECT_EQ(AdjustPcClock(12.5, 3.25, 500.0), 0);
  ASSERT_EQ(Adjusts.calls, 2);
  EXPECT_EQ(Adjusts.call[0].modes, (unsigned)ADJ_FREQUENCY);
  EXPECT_EQ(Adjusts.call[0].freq, 12.5 * 65536);
  EXPECT_EQ(Adjusts.call[1].modes, (unsigned)ADJ_OFFSET_SINGLESHOT);
  EXPECT_EQ(Adjusts.call[1].offset, -3250);  // 3.25 ms ahead: slewed back
  EXPECT_EQ(AdjustPcClock(-40.0, -0.5, 500.0), 0);
  EXPECT_EQ(Adjusts.call[2].freq, -40 * 65536);
  EXPECT_EQ(Adjusts.call[3].offset, 500);
  Adjusts = AdjustStub();
  EXPECT_EQ(EndPcClockSlew(-40.0), 0);
  ASSERT_EQ(Adjusts.calls, 1);
  EXPECT_EQ(Adjusts.call[0].modes, (unsigned)ADJ_OFFSET_SINGLESHOT);
  EXPECT_EQ(Adjusts.call[0].offset, 0);
  EXPECT_EQ(PcClockSlewStyle(), SlewAtKernelRate);
}

TEST(AdjustPosix, RefusalGivesTheErrorNumberAndStops) {
  Adjusts = AdjustStub();
  Os.AdjustClock = RecordAdjust;
  Adjusts.failWith = EPERM;
  EXPECT_EQ(AdjustPcClock(1.0, 1.0, 500.0), EPERM);
  EXPECT_EQ(Adjusts.calls, 1) << "no slew after a refused frequency";
  EXPECT_EQ(EndPcClockSlew(1.0), EPERM);
}

}  // namespace
