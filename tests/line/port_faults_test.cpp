// Fault injection at the system-call boundary of the POSIX port. Every entry
// of the port's call table goes through a counting wrapper; a plan makes the
// Nth call of one kind fail with a chosen errno (once, or from then on) or,
// for read and write, move a single byte. The life cycle the program runs -
// open, configure, modem lines on, identification and telegram exchange with
// a module on the far end of a pseudo-terminal, modem lines off, close - is
// repeated with each such fault, and every run is checked for a sound end.
//
// The module answers inside the write wrapper, so an answer is in the line
// before the port waits for it. A wait with nothing in flight is therefore
// not waited out but added to the port's clock: a run takes milliseconds,
// does not depend on the machine's load, and every wait the port asks for is
// seen (one longer than the port's longest, a second, is a hang in the making).
#include <dirent.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/status.h"
#include "link/exchange.h"
#include "link/port.h"
#include "os/monotonic.h"
#include "os/oscalls_posix.h"
#include "support/fake_clockset.h"
#include "support/moduleline.h"
#include "support/testutil.h"

namespace {

// The exchanges' buffer, as the driver has its own.
unsigned char Answer[AnswerBufferSize];

enum Kind { KOpen, KLock, KIoctl, KGet, KSet, KPoll, KRead, KWrite, KClose, KClock, KindCount };
const char* const KindName[KindCount] = {"open", "flock", "ioctl", "tcgetattr", "tcsetattr",
                                         "poll", "read",  "write", "close",     "clock_gettime"};
enum Mode { Once, FromThenOn, ShortOnce, ShortFromThenOn };
const char* const ModeName[] = {"once", "from then on", "short once", "short from then on"};
struct Plan {
  Kind kind;
  int nth, error;
  Mode mode;
};

const int Sentinel = 4321;        // the run's status before each port operation
const long RunawayCalls = 50000;  // calls in one run that count as a runaway loop
const int LongestPortWaitMs = 1000;

struct Injector {
  bool armed = false;
  Plan plan{};
  int calls[KindCount] = {};
  long total = 0;
  int fired = 0;
  std::string firedIn;    // the port operation running at the first fault
  const char* step = "";  // the port operation running now
  bool runaway = false;
  long inFlight = 0;      // bytes the module sent that the port has not read
  int longestWaitMs = 0;  // INT_MAX for a wait without end
  std::string command;    // command bytes the module has not acted on yet
};
Injector inj;
long long skippedMs = 0;  // waits not waited out; never reset, so time never goes back
long long readings = 0;   // each clock reading finds a millisecond gone by

const OsCalls& Real = RealOsCalls;

bool Hit(Kind kind) {
  int n = ++inj.calls[kind];
  if (++inj.total > RunawayCalls && !inj.runaway) {
    inj.runaway = true;  // reported by the run; faults stop so the loop can end
    inj.armed = false;
  }
  if (!inj.armed || inj.plan.kind != kind) return false;
  bool repeated = inj.plan.mode == FromThenOn || inj.plan.mode == ShortFromThenOn;
  if (repeated ? n < inj.plan.nth : n != inj.plan.nth) return false;
  if (inj.fired++ == 0) inj.firedIn = inj.step;
  return true;
}
bool ShortPlan() { return inj.plan.mode == ShortOnce || inj.plan.mode == ShortFromThenOn; }
int Fail() { return errno = inj.plan.error, -1; }

const std::vector<unsigned char> IdentAnswer = {'M', 'O', 'D', 'U', 'L',  'E',
                                                ' ', '1', '.', '0', 0x0D, 0x0A};
std::vector<unsigned char> TelegramAnswer() {
  std::vector<unsigned char> bytes(26);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (unsigned char)(i * 37 + 5);
  bytes[3] = 0x00;
  bytes[4] = 0xFF;
  return bytes;
}

// The module: takes the bytes just written and answers each whole command.
void PlayModule(int count) {
  unsigned char got[8];
  int n = ModuleRead(got, std::min(count, (int)sizeof got), 1000);
  inj.command.append((const char*)got, (size_t)n);
  while (inj.command.size() >= 2) {
    unsigned char code = (unsigned char)inj.command[0];
    bool whole = inj.command[1] == 0;
    inj.command.erase(0, whole ? 2 : 1);
    std::vector<unsigned char> answer;
    if (whole && code == IdentCommand[0]) answer = IdentAnswer;
    if (whole && code == RawTelegramCommand[0]) answer = TelegramAnswer();
    if (answer.empty()) continue;
    ASSERT_TRUE(ModuleWrite(answer.data(), answer.size()));
    inj.inFlight += (long)answer.size();
  }
}

int FaultyOpen(const char* name, int how) {
  return Hit(KOpen) ? Fail() : Real.OpenDevice(name, how);
}
// Linux releases the descriptor also when close reports an error; so does this one.
int FaultyClose(int fd) {
  bool hit = Hit(KClose);
  int result = Real.CloseDevice(fd);
  return hit ? Fail() : result;
}
int FaultyLock(int fd, int how) { return Hit(KLock) ? Fail() : Real.Lock(fd, how); }
int FaultyIoctl(int fd, unsigned long what, void* arg) {
  return Hit(KIoctl) ? Fail() : Real.Control(fd, what, arg);
}
int FaultyGet(int fd, struct termios* t) { return Hit(KGet) ? Fail() : Real.GetAttributes(fd, t); }
int FaultySet(int fd, int when, const struct termios* t) {
  return Hit(KSet) ? Fail() : Real.SetAttributes(fd, when, t);
}
int FaultyPoll(struct pollfd* fds, nfds_t count, int timeoutMs) {
  if (Hit(KPoll)) return Fail();
  inj.longestWaitMs = std::max(inj.longestWaitMs, timeoutMs < 0 ? INT_MAX : timeoutMs);
  if (count > 0 && inj.inFlight > 0) {
    return Real.Poll(fds, count, std::min(std::max(timeoutMs, 0), 2000));
  }
  int ready = count > 0 ? Real.Poll(fds, count, 0) : 0;
  if (ready == 0 && timeoutMs > 0) skippedMs += timeoutMs;
  return ready;
}
ssize_t FaultyRead(int fd, void* buffer, size_t size) {
  bool hit = Hit(KRead);
  if (hit && !ShortPlan()) return Fail();
  ssize_t got = Real.Read(fd, buffer, hit ? 1 : size);
  if (got > 0) inj.inFlight -= (long)got;
  return got;
}
ssize_t FaultyWrite(int fd, const void* bytes, size_t size) {
  bool hit = Hit(KWrite);
  if (hit && !ShortPlan()) return Fail();
  ssize_t put = Real.Write(fd, bytes, hit ? 1 : size);
  if (put > 0) PlayModule((int)put);
  return put;
}
long long VirtualMs() {
  struct timespec now;
  Real.Clock(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000 + skippedMs + readings;
}
int FaultyClock(clockid_t, struct timespec* now) {
  if (Hit(KClock)) return Fail();
  ++readings;
  long long ms = VirtualMs();
  now->tv_sec = (time_t)(ms / 1000);
  now->tv_nsec = (long)(ms % 1000) * 1000000;
  return 0;
}
// The port's calls in the system-call table replaced by the faulty ones.
void InstallFaultyCalls() {
  ResetTestOsCalls();
  Os.OpenDevice = FaultyOpen;
  Os.CloseDevice = FaultyClose;
  Os.Lock = FaultyLock;
  Os.Control = FaultyIoctl;
  Os.GetAttributes = FaultyGet;
  Os.SetAttributes = FaultySet;
  Os.Poll = FaultyPoll;
  Os.Read = FaultyRead;
  Os.Write = FaultyWrite;
  Os.Clock = FaultyClock;
}

int DescriptorCount() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == NULL) return -1;
  while (readdir(dir) != NULL) ++count;
  closedir(dir);
  return count;
}

// Runs one port operation with the run's status at the sentinel and checks
// it is kept: a failing port call is told by its result alone.
template <typename Call>
long long Step(const char* name, Call call) {
  inj.step = name;
  RunStatus = Sentinel;
  long long result = (long long)call();
  EXPECT_EQ(RunStatus, Sentinel) << name << " changed the run's status";
  inj.step = "";
  return result;
}

void ModemLines(int on) {
  Step(on ? "SetRts on" : "SetRts off", [on] { return SetRts(on), 0; });
  Step(on ? "SetDtr on" : "SetDtr off", [on] { return SetDtr(on), 0; });
}

// One exchange: never more bytes than the module sent, those bytes as sent,
// and a zero byte after them inside the buffer.
int Exchange(const char* name, const unsigned char* command,
             const std::vector<unsigned char>& answer) {
  memset(Answer, 0x5A, sizeof Answer);
  memcpy(Answer, command, CommandSize);
  int expected = (int)answer.size();
  int got =
      (int)Step(name, [&] { return ExchangeCommand(Answer, AnswerTimeLimit, expected); });
  EXPECT_GE(got, 0) << name;
  EXPECT_LE(got, expected) << name;
  if (got > 0 && got <= expected) {
    EXPECT_EQ(0, memcmp(Answer, answer.data(), (size_t)got)) << name;
    EXPECT_EQ(Answer[got], 0) << name;
  }
  EXPECT_NE(memchr(Answer, 0, AnswerBufferSize), nullptr) << name;
  return got;
}

struct Outcome {
  bool opened = false;
  int configured = -1, ident = -1, telegram = -1, closed = -1;  // -1: not run
  std::vector<std::string> logged;
};

// The program's life cycle on a fresh line, with the plan's fault if any.
Outcome RunLifeCycle(const Plan* plan) {
  Outcome o;
  ResetProgramState();
  InstallFaultyCalls();
  EXPECT_TRUE(ModuleLineOpen());
  inj = Injector();
  if (plan != nullptr) inj.plan = *plan;
  inj.armed = plan != nullptr;
  const int descriptors = DescriptorCount();
  const long long virtualStart = VirtualMs();
  const auto wallStart = std::chrono::steady_clock::now();

  o.opened = Step("OpenPort", OpenPort) == 0;
  if (o.opened) {
    o.configured =
        Step("ConfigurePort", [] { return ConfigurePort(19200, 8, NoParity, OneStopBit); }) == 0;
    if (o.configured == 1) {
      ModemLines(1);
      o.ident = Exchange("identification exchange", IdentCommand, IdentAnswer);
      if (o.ident >= IdentFrameSize) {
        o.telegram = Exchange("telegram exchange", RawTelegramCommand, TelegramAnswer());
      }
    }
    ModemLines(0);
    o.closed = Step("ClosePort", ClosePort) != 0;
  }

  // From now on the port is not open: nothing reaches the system any more.
  EXPECT_EQ(Port.handle, InvalidPortHandle);
  const long callsAtClose = inj.total;
  unsigned char area[8];
  memset(area, 0x77, sizeof area);
  EXPECT_EQ(Step("ReadPort when closed", [&] { return ReadPort(area, 0, (int)sizeof area); }), 0);
  EXPECT_EQ(area[0], 0x77);
  EXPECT_EQ(Step("WriteCommand when closed", [] { return WriteCommand(IdentCommand); }), EBADF);
  Step("SetDtr when closed", [] { return SetDtr(1), 0; });
  EXPECT_EQ(Step("ClosePort when closed", ClosePort), EBADF);
  EXPECT_EQ(inj.total, callsAtClose) << "a call reached the system after the port was closed";
  EXPECT_EQ(DescriptorCount(), descriptors) << "descriptor leaked";

  EXPECT_FALSE(inj.runaway) << "more than " << RunawayCalls << " calls in one run";
  EXPECT_LE(inj.longestWaitMs, LongestPortWaitMs) << "the port asked to wait this long";
  EXPECT_LE(VirtualMs() - virtualStart, 20000) << "port time taken by one run";
  EXPECT_LE(std::chrono::steady_clock::now() - wallStart, std::chrono::seconds(10));
  o.logged = LoggedMessages();
  ModuleLineClose();
  return o;
}

enum Expect { WholeLifeCycle, NoPort, NotConfigured, ExchangeFails, CloseFails, SoundOnly };

void CheckOutcome(const Plan& plan, Expect expect, const Outcome& o) {
  if (inj.fired == 0) expect = WholeLifeCycle;  // the Nth call never came
  if (expect == NoPort) {
    EXPECT_FALSE(o.opened);
    EXPECT_TRUE(o.logged.empty());
    return;
  }
  ASSERT_TRUE(o.opened);
  EXPECT_EQ(o.closed, expect == CloseFails ? 1 : 0);
  if (expect == NotConfigured) {
    EXPECT_EQ(o.configured, 0);
    EXPECT_EQ(o.ident, -1);
    ASSERT_EQ(o.logged.size(), 1u);
    EXPECT_EQ(o.logged[0], strerror(plan.error));
    return;
  }
  EXPECT_EQ(o.configured, 1);
  EXPECT_TRUE(o.logged.empty());
  if (expect == WholeLifeCycle || expect == CloseFails) {
    EXPECT_EQ(o.ident, IdentFrameSize);
    EXPECT_EQ(o.telegram, 26);
  } else if (expect == ExchangeFails) {
    bool inIdent = inj.firedIn == "identification exchange";
    ASSERT_TRUE(inIdent || inj.firedIn == "telegram exchange") << inj.firedIn;
    EXPECT_EQ(o.ident, inIdent ? 0 : IdentFrameSize);
    EXPECT_EQ(o.telegram, inIdent ? -1 : 0);
  }
}

std::string ClassOf(const Outcome& o) {
  if (inj.fired == 0) return "fault not reached, whole life cycle";
  if (!o.opened) return "port not opened";
  if (o.configured != 1) return "not configured, system text logged";
  if (o.ident < IdentFrameSize) return "identification short";
  if (o.telegram < 26) return "telegram short";
  if (o.closed != 0) return "close reported failure";
  return "whole life cycle";
}

class PortFaults : public testing::Test {
 protected:
  void SetUp() override { InstallFaultyCalls(); }
  void TearDown() override {
    ResetTestOsCalls();
    ClosePort();
    ModuleLineClose();
  }

  // Calls of each kind in a run without faults (taken once per process).
  static const std::vector<int>& Baseline() {
    static std::vector<int> counts;
    if (counts.empty()) {
      RunLifeCycle(nullptr);
      counts.assign(inj.calls, inj.calls + KindCount);
    }
    return counts;
  }

  struct Case {
    Kind kind;
    std::vector<int> errors;
    Mode mode;
    Expect expect;
  };
  // Every case with every errno at every N from 1 to the baseline count.
  void Sweep(const std::vector<Case>& cases) {
    std::map<std::string, int> classes;
    int runs = 0;
    for (const Case& c : cases) {
      ASSERT_GT(Baseline()[c.kind], 0) << KindName[c.kind] << " is never called";
      for (int error : c.errors) {
        for (int n = 1; n <= Baseline()[c.kind]; ++n) {
          Plan plan = {c.kind, n, error, c.mode};
          SCOPED_TRACE(std::string(KindName[c.kind]) + " call " + std::to_string(n) + " " +
                       ModeName[c.mode] + " errno " + (error ? strerrorname_np(error) : "-"));
          Outcome o = RunLifeCycle(&plan);
          CheckOutcome(plan, c.expect, o);
          ++classes[ClassOf(o)];
          ++runs;
        }
      }
    }
    printf("[faults] %d runs:", runs);
    for (const auto& entry : classes) printf(" %s %d;", entry.first.c_str(), entry.second);
    printf("\n");
  }
};

const std::vector<int> Common = {EINTR, EAGAIN, EIO, EBADF, ENXIO};

TEST_F(PortFaults, CleanLifeCycleSucceedsThroughEveryKindOfCall) {
  Outcome o = RunLifeCycle(nullptr);
  CheckOutcome(Plan{KOpen, 0, 0, Once}, WholeLifeCycle, o);
  printf("[faults] calls without faults:");
  for (int k = 0; k < KindCount; ++k) {
    printf(" %s %d;", KindName[k], Baseline()[k]);
    EXPECT_GT(Baseline()[k], 0) << KindName[k];
  }
  printf("\n");
}

TEST_F(PortFaults, InterruptedAndShortTransfersAreRetriedUntilTheAnswerIsWhole) {
  Sweep({{KRead, {EINTR, EAGAIN}, Once, WholeLifeCycle},
         {KWrite, {EINTR, EAGAIN}, Once, WholeLifeCycle},
         {KPoll, {EINTR}, Once, WholeLifeCycle},
         {KRead, {0}, ShortOnce, WholeLifeCycle},
         {KRead, {0}, ShortFromThenOn, WholeLifeCycle},
         {KWrite, {0}, ShortOnce, WholeLifeCycle},
         {KWrite, {0}, ShortFromThenOn, WholeLifeCycle}});
}

TEST_F(PortFaults, BrokenTransfersGiveShortAnswersButNeverMoreThanSent) {
  Sweep({{KRead, {EIO, EBADF, ENXIO}, Once, SoundOnly},
         {KPoll, {EAGAIN, EIO, EBADF, ENXIO}, Once, SoundOnly},
         {KWrite, {EIO, EBADF, ENXIO}, Once, ExchangeFails},
         {KRead, {EIO}, FromThenOn, SoundOnly},
         {KPoll, {EIO}, FromThenOn, SoundOnly},
         {KWrite, {EIO, EAGAIN}, FromThenOn, ExchangeFails}});
}

TEST_F(PortFaults, FailedOpenOrLockLeavesNoPortAndNoDescriptor) {
  Sweep({{KOpen, Common, Once, NoPort}, {KLock, Common, Once, NoPort}});
}

TEST_F(PortFaults, RefusedLineSettingsFailConfigurationWithOneSystemText) {
  Sweep({{KGet, Common, Once, NotConfigured}, {KSet, Common, Once, NotConfigured}});
}

TEST_F(PortFaults, RefusedModemLinesAndExclusiveModeAreIgnored) {
  Sweep({{KIoctl, {EINTR, EAGAIN, EIO, EBADF, ENXIO, ENOTTY, EINVAL}, Once, WholeLifeCycle},
         {KIoctl, {ENOTTY}, FromThenOn, WholeLifeCycle}});
}

TEST_F(PortFaults, FailingCloseStillReleasesThePort) {
  Sweep({{KClose, Common, Once, CloseFails}});
}

TEST_F(PortFaults, FailingClockReadingsNeitherStretchWaitsNorSpin) {
  // A failed reading neither turns the clock back nor stops it.
  inj = Injector();
  inj.plan = Plan{KClock, 2, EINVAL, FromThenOn};
  inj.armed = true;
  std::vector<int64_t> ms;
  for (int i = 0; i < 5; ++i) ms.push_back(MonotonicMs());
  inj.armed = false;
  ms.push_back(MonotonicMs());
  for (size_t i = 1; i + 1 < ms.size(); ++i) EXPECT_GT(ms[i], ms[i - 1]) << i;
  EXPECT_GE(ms.back(), ms[ms.size() - 2]);

  Sweep({{KClock, {EINVAL}, Once, SoundOnly}, {KClock, {EINVAL}, FromThenOn, SoundOnly}});
}

}  // namespace
