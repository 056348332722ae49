// The POSIX port: exclusive open, raw line settings, refused rates, a far end
// that hangs up, and failing system calls put in through the call table.
#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/status.h"
#include "link/exchange.h"
#include "link/port.h"
#include "os/oscalls_posix.h"
#include "os/wake.h"
#include "support/fake_clockset.h"
#include "support/moduleline.h"
#include "support/testutil.h"

namespace {

typedef std::chrono::steady_clock Clock;

long long MsSince(Clock::time_point start) {
  return (long long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
      .count();
}

class PortPosixTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetProgramState();
    ASSERT_TRUE(ModuleLineOpen());
  }
  void TearDown() override {
    ResetTestOsCalls();
    ClosePort();
    ModuleLineClose();
  }
};

// Opens the port in a child process; true when the child could open it.
bool OpenedByAnotherProcess() {
  pid_t child = fork();
  if (child == 0) _exit(OpenPort() == 0 ? 0 : 1);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(PortPosixTest, OpenIsExclusiveAndFailuresLeaveTheRunStatusAlone) {
  ASSERT_EQ(OpenPort(), 0);
  EXPECT_FALSE(OpenedByAnotherProcess());
  EXPECT_EQ(ClosePort(), 0);
  EXPECT_TRUE(OpenedByAnotherProcess());

  snprintf(Settings.port, PortNameSize, "/dev/no-such-port");
  RunStatus = 1234;
  EXPECT_EQ(OpenPort(), ENOENT);
  EXPECT_EQ(Port.handle, InvalidPortHandle);
  Settings.port[0] = '\0';
  EXPECT_EQ(OpenPort(), ENOENT);
  EXPECT_EQ(ConfigurePort(19200, 8, NoParity, OneStopBit), EBADF);
  EXPECT_EQ(RunStatus, 1234);
  std::vector<std::string> logged = LoggedMessages();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], strerror(EBADF));
}

TEST_F(PortPosixTest, LineIsRawEightNoneOneAndKeepsHardwareFlowControl) {
  ASSERT_EQ(OpenPort(), 0);
  int fd = (int)Port.handle;
  struct termios before;
  ASSERT_EQ(tcgetattr(fd, &before), 0);
  before.c_cflag |= CRTSCTS | PARENB | CSTOPB;
  before.c_iflag |= IXON | IXOFF | ICRNL;
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &before), 0);

  ASSERT_EQ(ConfigurePort(9600, 8, NoParity, OneStopBit), 0);
  struct termios line;
  ASSERT_EQ(tcgetattr(fd, &line), 0);
  EXPECT_EQ(cfgetospeed(&line), (speed_t)B9600);
  EXPECT_EQ(line.c_cflag & CSIZE, (tcflag_t)CS8);
  EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_NE(line.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(line.c_oflag & OPOST, 0u);
}

TEST_F(PortPosixTest, RefusedLineSettingsLogTheSystemText) {
  ASSERT_EQ(OpenPort(), 0);
  RunStatus = 4321;
  EXPECT_EQ(ConfigurePort(12345, 8, NoParity, OneStopBit), EINVAL);
  EXPECT_EQ(ConfigurePort(19200, 9, NoParity, OneStopBit), EINVAL);
  EXPECT_EQ(ConfigurePort(19200, 8, NoParity, 1), EINVAL);
  EXPECT_EQ(RunStatus, 4321);
  std::vector<std::string> logged = LoggedMessages();
  ASSERT_EQ(logged.size(), 3u);
  for (const std::string& line : logged) EXPECT_EQ(line, strerror(EINVAL));
}

// Replacements for single system calls.
int getCalls = 0;
int CountingGet(int fd, struct termios* t) {
  ++getCalls;
  return tcgetattr(fd, t);
}
int FailingSet(int, int, const struct termios*) {
  errno = EIO;
  return -1;
}
// Takes the first byte, then the line fails.
int writeCalls = 0;
ssize_t OneByteWrite(int fd, const void* bytes, size_t) {
  if (writeCalls++ == 0) return write(fd, bytes, 1);
  errno = EIO;
  return -1;
}
ssize_t FailingWrite(int, const void*, size_t) {
  errno = EIO;
  return -1;
}
ssize_t FullWrite(int, const void*, size_t) {
  errno = EAGAIN;
  return -1;
}
int FailingClose(int fd) {
  close(fd);
  errno = EIO;
  return -1;
}

TEST_F(PortPosixTest, FailingCallsAreReportedAsFailures) {
  ASSERT_EQ(OpenPort(), 0);
  getCalls = 0;
  Os.GetAttributes = CountingGet;
  Os.SetAttributes = FailingSet;
  EXPECT_EQ(ConfigurePort(19200, 8, NoParity, OneStopBit), EIO);
  EXPECT_EQ(getCalls, 1);  // nothing is asked after the failing call
  std::vector<std::string> logged = LoggedMessages();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], strerror(EIO));

  ResetTestOsCalls();
  ASSERT_EQ(ConfigurePort(19200, 8, NoParity, OneStopBit), 0);
  writeCalls = 0;
  Os.Write = OneByteWrite;
  EXPECT_EQ(WriteCommand((const unsigned char*)"\x03"), EIO);
  EXPECT_EQ(writeCalls, 2);
  Os.Write = FailingWrite;
  EXPECT_EQ(WriteCommand((const unsigned char*)"\x03"), EIO);
  Os.Write = FullWrite;  // output held back: gives up after about a second
  Clock::time_point start = Clock::now();
  EXPECT_EQ(WriteCommand((const unsigned char*)"\x03"), ETIMEDOUT);
  EXPECT_LE(MsSince(start), 5000);

  Os.CloseDevice = FailingClose;
  RunStatus = 99;
  EXPECT_EQ(ClosePort(), EIO);
  EXPECT_EQ(RunStatus, 99);
  EXPECT_EQ(Port.handle, InvalidPortHandle);
}

TEST_F(PortPosixTest, CtrlCEndsAnExchangeOnASilentLineAtOnce) {
  // Silent: the flush read's second and the answer's two seconds of silence
  // would take three seconds.
  ASSERT_EQ(OpenPort(), 0);
  ASSERT_EQ(ConfigurePort(19200, 8, NoParity, OneStopBit), 0);
  ASSERT_EQ(StartWake(), 0);
  std::thread requester([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    RequestWake();
  });
  unsigned char buffer[AnswerBufferSize];
  memcpy(buffer, RawTelegramCommand, CommandSize);
  Clock::time_point start = Clock::now();
  EXPECT_EQ(ExchangeCommand(buffer, AnswerTimeLimit, 26), 0);
  requester.join();
  EXPECT_LT(MsSince(start), 1500);
  EXPECT_EQ(WriteCommand(RawTelegramCommand), EINTR);
  StopWake();
  EXPECT_TRUE(LoggedMessages().empty());
}

TEST_F(PortPosixTest, FarEndHangingUpLooksLikeSilence) {
  ASSERT_EQ(OpenPort(), 0);
  ASSERT_EQ(ConfigurePort(19200, 8, NoParity, OneStopBit), 0);
  SetRts(1);  // no modem lines on a pseudo-terminal: ignored
  SetDtr(1);
  ModuleLineClose();
  unsigned char area[32];
  memset(area, 0x11, sizeof area);
  RunStatus = 5;
  Clock::time_point start = Clock::now();
  EXPECT_EQ(ReadPort(area, 0, sizeof area), 0);
  long long took = MsSince(start);
  EXPECT_NE(WriteCommand((const unsigned char*)"\x03"), 0);
  EXPECT_EQ(RunStatus, 5);
  EXPECT_EQ(area[0], 0x11);
  // The read keeps its pace instead of returning at once to be retried.
  EXPECT_GE(took, 20);
  EXPECT_LE(took, 3000);
}

}  // namespace
