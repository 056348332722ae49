// The POSIX feed to the time daemon: the datagram chronyd reads, the NTP
// shared-memory protocol, which telegrams are fed, and how a missing daemon,
// bad settings and a segment that cannot be attached are reported. The
// daemon's end is played by the test: a datagram socket bound where chronyd
// would make its own, and a shared-memory unit no other program uses.
#include <errno.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <poll.h>
#include <stddef.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "clock/evaluate.h"
#include "config/paths.h"
#include "config/settings.h"
#include "config/status.h"
#include "os/oscalls_posix.h"
#include "refclock/refclock.h"
#include "refclock/refclock_posix.h"
#include "support/ntpshm.h"
#include "support/socketdir.h"
#include "driver/poll.h"
#include "support/testutil.h"

namespace {

// chronyd's end of the SOCK feed: a datagram socket bound at path.
struct DaemonSocket {
  int fd = -1;
  std::string path;
  bool Bind(const std::string& where) {
    path = where;
    unlink(path.c_str());
    fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (fd < 0 || path.size() >= sizeof address.sun_path) return false;
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return bind(fd, (const sockaddr*)&address, sizeof address) == 0;
  }
  // The datagrams waiting, each as it came; waits up to wait ms for the first.
  std::vector<std::string> Received(int wait = 0) {
    std::vector<std::string> all;
    pollfd p = {fd, POLLIN, 0};
    while (poll(&p, 1, all.empty() ? wait : 0) > 0) {
      char buffer[256];
      ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n < 0) break;
      all.emplace_back(buffer, (size_t)n);
    }
    return all;
  }
  void Close() {
    if (fd >= 0) close(fd);
    fd = -1;
    if (!path.empty()) unlink(path.c_str());
  }
  ~DaemonSocket() { Close(); }
};

ChronySockRecord AsRecord(const std::string& datagram) {
  ChronySockRecord r;
  memset(&r, 0, sizeof r);
  memcpy(&r, datagram.data(), std::min(datagram.size(), sizeof r));
  return r;
}

// A valid CET telegram of 09.12.2026 08:mm:05.250, captured 100 ms later
// by the PC clock (which keeps UTC).
TimeTelegram Telegram(int minute) {
  TimeTelegram t = {};
  t.S = 1;
  t.Z2 = 1;
  t.year = 2026;
  t.month = 12;
  t.day = 9;
  t.weekday = 3;
  t.hour = 8;
  t.minute = minute;
  t.second = 5;
  t.millisecond = 250;
  t.valid = 1;
  t.capture.time = 1796799600 + minute * 60 + 5;  // 09.12.2026 07:mm:05 UTC
  t.capture.millitm = 350;
  return t;
}

class Feed : public testing::Test {
 protected:
  std::string dir;
  int unit = -1;  // a segment this test made, removed at the end
  void SetUp() override {
    ResetProgramState();
    StopReferenceFeed();
    Settings.ChronySocket[0] = '\0';
    Settings.NtpShmUnit = -1;
    dir = SocketDirectory();
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override {
    StopReferenceFeed();
    Settings.ChronySocket[0] = '\0';
    RemoveShmUnit(unit);
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
  }
  void StartChrony(const std::string& path) {
    snprintf(Settings.ChronySocket, sizeof Settings.ChronySocket, "%s", path.c_str());
    StartReferenceFeed();
  }
  void StartShm(int32_t u) {
    Settings.NtpShmUnit = u;
    StartReferenceFeed();
  }
};

TEST(ChronySockRecordTest, HasTheLayoutChronydReadsOn64BitLinux) {
  if (sizeof(long) != 8) GTEST_SKIP() << "layout checked for 64-bit Linux only";
  ReferenceSample s = {1796803265, 250000000, 1796803264, 987654321, LeapInsert, 0.2623};
  ChronySockRecord r;
  memset(&r, 0x55, sizeof r);
  FillChronySockRecord(&s, &r);
  ASSERT_EQ(40u, sizeof r);
  unsigned char bytes[40];
  memcpy(bytes, &r, sizeof bytes);
  int64_t seconds, micros;
  double offset;
  int32_t ints[4];
  memcpy(&seconds, bytes + 0, 8);
  memcpy(&micros, bytes + 8, 8);
  memcpy(&offset, bytes + 16, 8);
  memcpy(ints, bytes + 24, 16);
  EXPECT_EQ(1796803264, seconds) << "tv: the system time";
  EXPECT_EQ(987654, micros) << "microseconds, truncated";
  EXPECT_EQ(0.2623, offset);
  EXPECT_EQ(0, ints[0]) << "pulse";
  EXPECT_EQ(LeapInsert, ints[1]) << "leap";
  EXPECT_EQ(0, ints[2]) << "padding";
  EXPECT_EQ(0x534f434b, ints[3]) << "magic";
}

// The segment as each barrier of WriteNtpShmSample finds it.
NtpShmSegment* Observed = nullptr;
std::vector<NtpShmSegment> Snapshots;
void Snapshot(void) { Snapshots.push_back(*Observed); }

TEST(NtpShmProtocol, ValidClearedCountedFieldsCountedValidSetInThatOrder) {
  NtpShmSegment segment;
  memset((void*)&segment, 0, sizeof segment);
  segment.count = 41;
  segment.valid = 1;  // a sample the daemon has not taken yet
  segment.clockTimeStampSec = 5;
  segment.dummy[3] = 77;
  ReferenceSample s = {1796803265, 999999999, 1796803264, 1500, LeapInsert, 0.9985};

  Observed = &segment;
  Snapshots.clear();
  Os.Barrier = Snapshot;
  WriteNtpShmSample(&segment, &s);
  ResetOsCalls();
  ASSERT_EQ(4u, Snapshots.size()) << "a barrier between each two steps";
  // 1: the old sample declared invalid before anything else changes.
  EXPECT_EQ(0, Snapshots[0].valid);
  EXPECT_EQ(41, Snapshots[0].count);
  EXPECT_EQ(5, Snapshots[0].clockTimeStampSec);
  // 2: counted once, fields still old.
  EXPECT_EQ(42, Snapshots[1].count);
  EXPECT_EQ(5, Snapshots[1].clockTimeStampSec);
  EXPECT_EQ(0, Snapshots[1].valid);
  // 3: the fields, still under the odd count and invalid.
  EXPECT_EQ(42, Snapshots[2].count);
  EXPECT_EQ(0, Snapshots[2].valid);
  EXPECT_EQ(1796803265, Snapshots[2].clockTimeStampSec);
  // 4: counted again, and only then valid.
  EXPECT_EQ(43, Snapshots[3].count);
  EXPECT_EQ(0, Snapshots[3].valid);
  EXPECT_EQ(1, segment.valid);
  EXPECT_EQ(43, segment.count);

  EXPECT_EQ(1, segment.mode);
  EXPECT_EQ(1796803265, segment.clockTimeStampSec);
  EXPECT_EQ(999999999u, segment.clockTimeStampNSec);
  EXPECT_EQ(999999, segment.clockTimeStampUSec) << "truncated, not rounded";
  EXPECT_EQ(1796803264, segment.receiveTimeStampSec);
  EXPECT_EQ(1500u, segment.receiveTimeStampNSec);
  EXPECT_EQ(1, segment.receiveTimeStampUSec);
  EXPECT_EQ(LeapInsert, segment.leap);
  EXPECT_EQ(-7, segment.precision);
  EXPECT_EQ(0, segment.nsamples);
  EXPECT_EQ(77, segment.dummy[3]);
}

TEST(NtpShmProtocol, SegmentLayoutAndModesAsNtpdKeepsThem) {
  if (sizeof(long) == 8) {
    EXPECT_EQ(96u, sizeof(NtpShmSegment));
    EXPECT_EQ(8u, offsetof(NtpShmSegment, clockTimeStampSec));
    EXPECT_EQ(48u, offsetof(NtpShmSegment, valid));
    EXPECT_EQ(52u, offsetof(NtpShmSegment, clockTimeStampNSec));
  }
  EXPECT_EQ(0x4e545030, NtpShmKeyBase);
  EXPECT_EQ(0600, NtpShmMode(0));
  EXPECT_EQ(0600, NtpShmMode(1));
  EXPECT_EQ(0666, NtpShmMode(2));
  EXPECT_EQ(0666, NtpShmMode(255));
}

TEST_F(Feed, EveryTrustedTelegramGoesOutAndNoOther) {
  DaemonSocket daemon;
  ASSERT_TRUE(daemon.Bind(dir + "dcf.sock"));
  Settings.ValidDateTimeCount = 3;
  Settings.DCFSetTime = 0;  // the daemon steers: the feed does not care
  StartChrony(daemon.path);

  HandleInTest(Telegram(1));
  HandleInTest(Telegram(2));
  EXPECT_TRUE(daemon.Received().empty()) << "counted 1 and 2 of 3";
  HandleInTest(Telegram(3));
  std::vector<std::string> got = daemon.Received(1000);
  ASSERT_EQ(1u, got.size());
  ASSERT_EQ(sizeof(ChronySockRecord), got[0].size());
  ChronySockRecord r = AsRecord(got[0]);
  EXPECT_EQ(Telegram(3).capture.time, r.tv.tv_sec);
  EXPECT_EQ(350000, r.tv.tv_usec);
  EXPECT_NEAR(-0.100, r.offset, 1e-9) << "the PC 100 ms ahead";
  EXPECT_EQ(0, r.pulse);
  EXPECT_EQ(LeapNone, r.leap);
  EXPECT_EQ(ChronySockMagic, r.magic);

  // The same minute again: not counted, but still trusted.
  TimeTelegram again = Telegram(3);
  again.second = 40;
  again.capture.time += 35;
  HandleInTest(again);
  ASSERT_EQ(1u, daemon.Received(1000).size());

  // A telegram without a zone is read by the German rule (CET in December)
  // and fed the same; one whose weekday is not its date's is trusted by the
  // count but names no real instant and is not fed.
  TimeTelegram noZone = Telegram(4);
  noZone.Z1 = 1;
  HandleInTest(noZone);
  got = daemon.Received(1000);
  ASSERT_EQ(1u, got.size());
  EXPECT_NEAR(-0.100, AsRecord(got[0]).offset, 1e-9);
  TimeTelegram impossible = Telegram(5);
  impossible.weekday = 4;
  HandleInTest(impossible);
  EXPECT_EQ(5, TestRun.counting.ContValidTime);
  EXPECT_TRUE(daemon.Received(200).empty());

  // An invalid telegram resets the count: the next ones are not trusted
  // until the count is back.
  TimeTelegram bad = Telegram(6);
  bad.valid = 0;
  HandleInTest(bad);
  HandleInTest(Telegram(7));
  HandleInTest(Telegram(8));
  EXPECT_TRUE(daemon.Received(200).empty());
  HandleInTest(Telegram(9));
  EXPECT_EQ(1u, daemon.Received(1000).size());

  // The log holds the evaluation's own lines only.
  for (const std::string& m : LoggedMessages()) {
    EXPECT_EQ(std::string::npos, m.find("chrony")) << m;
  }
}

TEST_F(Feed, MissingDaemonIsLoggedOnceAndItsReturnOnce) {
  Settings.ValidDateTimeCount = 1;
  const std::string path = dir + "dcf.sock";
  StartChrony(path);
  EXPECT_TRUE(LoggedMessages().empty()) << "nothing is sent before a sample";

  // Not there: logged at the first sample, silent at the next ones, and the
  // run's status left alone.
  for (int minute = 1; minute <= 3; ++minute) {
    RunStatus = 1234;
    HandleInTest(Telegram(minute));
    EXPECT_EQ(1234, RunStatus);
  }
  std::vector<std::string> log = LoggedMessages();
  EXPECT_EQ(1, std::count(log.begin(), log.end(), "chrony socket " + path + ": nobody reading (error 2)"))
      << "ENOENT, once";
  EXPECT_EQ(10u, log.size()) << "3 x 3 evaluation lines + 1";

  // chronyd starts: the next sample arrives, and that is logged once.
  DaemonSocket daemon;
  ASSERT_TRUE(daemon.Bind(path));
  HandleInTest(Telegram(4));
  HandleInTest(Telegram(5));
  EXPECT_EQ(2u, daemon.Received(1000).size());
  log = LoggedMessages();
  EXPECT_EQ(1, std::count(log.begin(), log.end(), "chrony socket " + path + " works again"));
  EXPECT_EQ(17u, log.size());

  // chronyd ends and leaves its socket behind: refused, logged once more.
  int stale = daemon.fd;
  daemon.fd = -1;
  close(stale);  // the file stays
  HandleInTest(Telegram(6));
  HandleInTest(Telegram(7));
  log = LoggedMessages();
  EXPECT_EQ(1, std::count(log.begin(), log.end(), "chrony socket " + path + ": nobody reading (error 111)"))
      << "ECONNREFUSED, once";
  EXPECT_EQ(24u, log.size());

  // chronyd restarts and makes a new socket at the same path.
  DaemonSocket restarted;
  ASSERT_TRUE(restarted.Bind(path));
  HandleInTest(Telegram(8));
  EXPECT_EQ(1u, restarted.Received(1000).size());
  log = LoggedMessages();
  EXPECT_EQ(2, std::count(log.begin(), log.end(), "chrony socket " + path + " works again"));
}

TEST_F(Feed, SocketPathMustFitASocketAddressWhole) {
  Settings.ValidDateTimeCount = 1;
  // 107 characters fit (with the terminator, 108 bytes of sun_path).
  std::string fits = dir + std::string(107 - dir.size() - 5, 'x') + ".sock";
  ASSERT_EQ(107u, fits.size());
  DaemonSocket daemon;
  ASSERT_TRUE(daemon.Bind(fits));
  StartChrony(fits);
  HandleInTest(Telegram(1));
  EXPECT_EQ(1u, daemon.Received(1000).size());
  EXPECT_EQ(3u, LoggedMessages().size()) << "no line of the feed's";

  // 108 characters are refused, not cut to the 107 of a socket that exists.
  std::string tooLong = fits + "k";
  WriteFile(Paths.log, "");
  StartChrony(tooLong);
  std::vector<std::string> log = LoggedMessages();
  ASSERT_EQ(1u, log.size());
  EXPECT_EQ("ChronySocket too long (108 characters, at most 107), feed off: " + tooLong, log[0]);
  HandleInTest(Telegram(2));
  EXPECT_TRUE(daemon.Received(200).empty());
  EXPECT_EQ(4u, LoggedMessages().size());

  // The longest value a settings line can hold is refused whole as well.
  std::string longest(250, 'p');
  longest[0] = '/';
  WriteFile(Paths.log, "");
  StartChrony(longest);
  log = LoggedMessages();
  ASSERT_EQ(1u, log.size());
  EXPECT_EQ("ChronySocket too long (250 characters, at most 107), feed off: " + longest, log[0]);
}

TEST_F(Feed, UnitOutsideTheRangeTurnsTheSharedMemoryFeedOff) {
  Settings.ValidDateTimeCount = 1;
  StartShm(-1);
  EXPECT_TRUE(LoggedMessages().empty()) << "-1 is off, silently";
  const int32_t bad[] = {-2, 256, INT32_MAX, INT32_MIN};
  for (int32_t u : bad) {
    WriteFile(Paths.log, "");
    StartShm(u);
    HandleInTest(Telegram(1));
    std::vector<std::string> log = LoggedMessages();
    ASSERT_EQ(4u, log.size()) << u;
    EXPECT_EQ("NtpShmUnit " + std::to_string(u) + " out of range 0..255, feed off", log[0]);
  }
  // Nothing was made under the key next to unit 255.
  errno = 0;
  EXPECT_LT(shmget((key_t)(NtpShmKeyBase + 256), 0, 0), 0);
  EXPECT_EQ(ENOENT, errno);
}

TEST_F(Feed, SharedMemoryUnitIsCreatedWrittenAndFollowedToANewSegment) {
  Settings.ValidDateTimeCount = 1;
  unit = FreeShmUnit();
  ASSERT_GE(unit, 2) << "no free shared-memory unit";
  StartShm(unit);
  EXPECT_TRUE(LoggedMessages().empty());
  int id = shmget((key_t)(NtpShmKeyBase + unit), 0, 0);
  ASSERT_GE(id, 0) << "made at start";
  struct shmid_ds info;
  ASSERT_EQ(0, shmctl(id, IPC_STAT, &info));
  EXPECT_EQ(0666u, info.shm_perm.mode & 0777u) << "units from 2 on are for everyone";
  EXPECT_GE(info.shm_segsz, sizeof(NtpShmSegment));

  NtpShmSegment seen;
  ASSERT_TRUE(ReadShmUnit(unit, &seen));
  EXPECT_EQ(0, seen.valid);
  EXPECT_EQ(0, seen.count);

  RunStatus = 4321;
  HandleInTest(Telegram(1));
  EXPECT_EQ(4321, RunStatus);
  ASSERT_TRUE(ReadShmUnit(unit, &seen));
  EXPECT_EQ(1, seen.mode);
  EXPECT_EQ(2, seen.count);
  EXPECT_EQ(1, seen.valid);
  EXPECT_EQ(Telegram(1).capture.time, seen.clockTimeStampSec);
  EXPECT_EQ(250000000u, seen.clockTimeStampNSec);
  EXPECT_EQ(250000, seen.clockTimeStampUSec);
  EXPECT_EQ(Telegram(1).capture.time, seen.receiveTimeStampSec);
  EXPECT_EQ(350000000u, seen.receiveTimeStampNSec);
  EXPECT_EQ(350000, seen.receiveTimeStampUSec);
  EXPECT_EQ(LeapNone, seen.leap);
  EXPECT_EQ(-7, seen.precision);

  // The daemon takes the sample (clears valid); the next one sets it again.
  int writable = shmget((key_t)(NtpShmKeyBase + unit), 0, 0);
  auto* daemonView = (NtpShmSegment*)shmat(writable, nullptr, 0);
  ASSERT_NE((void*)-1, (void*)daemonView);
  daemonView->valid = 0;
  shmdt(daemonView);
  HandleInTest(Telegram(2));
  ASSERT_TRUE(ReadShmUnit(unit, &seen));
  EXPECT_EQ(4, seen.count);
  EXPECT_EQ(1, seen.valid);
  EXPECT_EQ(Telegram(2).capture.time, seen.clockTimeStampSec);

  // A daemon that removes the segment and makes a new one gets the next
  // sample in the new one.
  ASSERT_EQ(0, shmctl(id, IPC_RMID, nullptr));
  int fresh = shmget((key_t)(NtpShmKeyBase + unit), sizeof(NtpShmSegment), IPC_CREAT | 0600);
  ASSERT_GE(fresh, 0);
  HandleInTest(Telegram(3));
  ASSERT_TRUE(ReadShmUnit(unit, &seen));
  EXPECT_EQ(2, seen.count);
  EXPECT_EQ(1, seen.valid);
  EXPECT_EQ(Telegram(3).capture.time, seen.receiveTimeStampSec);
  EXPECT_EQ(9u, LoggedMessages().size()) << "no line of the feed's";
}

TEST_F(Feed, SegmentThatCannotBeAttachedIsLoggedOnceAndItsReturnOnce) {
  Settings.ValidDateTimeCount = 1;
  unit = FreeShmUnit();
  ASSERT_GE(unit, 2) << "no free shared-memory unit";
  // Something else holds the key with a segment too small for the record.
  int small = shmget((key_t)(NtpShmKeyBase + unit), 16, IPC_CREAT | IPC_EXCL | 0600);
  ASSERT_GE(small, 0);
  RunStatus = 99;
  StartShm(unit);
  EXPECT_EQ(99, RunStatus);
  const std::string failed = "NTP shared memory unit " + std::to_string(unit) + ": error 22";
  std::vector<std::string> log = LoggedMessages();
  ASSERT_EQ(1u, log.size());
  EXPECT_EQ(failed, log[0]) << "EINVAL, at start";
  HandleInTest(Telegram(1));
  HandleInTest(Telegram(2));
  EXPECT_EQ(7u, LoggedMessages().size()) << "not again at each sample";

  ASSERT_EQ(0, shmctl(small, IPC_RMID, nullptr));
  HandleInTest(Telegram(3));
  log = LoggedMessages();
  ASSERT_EQ(11u, log.size());
  EXPECT_EQ("NTP shared memory unit " + std::to_string(unit) + " works again", log[10]);
  NtpShmSegment seen;
  ASSERT_TRUE(ReadShmUnit(unit, &seen));
  EXPECT_EQ(1, seen.valid);
  EXPECT_EQ(Telegram(3).capture.time, seen.receiveTimeStampSec);
}

TEST_F(Feed, BothFeedsTakeTheSameSample) {
  Settings.ValidDateTimeCount = 1;
  unit = FreeShmUnit();
  ASSERT_GE(unit, 2) << "no free shared-memory unit";
  DaemonSocket daemon;
  ASSERT_TRUE(daemon.Bind(dir + "dcf.sock"));
  snprintf(Settings.ChronySocket, sizeof Settings.ChronySocket, "%s", daemon.path.c_str());
  Settings.NtpShmUnit = unit;
  StartReferenceFeed();
  // 01.01.2027 00:30:00.500 CET with A2: half an hour before the leap
  // second; the PC half a second behind.
  TimeTelegram t = Telegram(0);
  t.year = 2027;
  t.month = 1;
  t.day = 1;
  t.weekday = 5;  // a Friday
  t.hour = 0;
  t.minute = 30;
  t.second = 0;
  t.millisecond = 500;
  t.A2 = 1;
  t.capture.time = 1798759800;  // 31.12.2026 23:30:00 UTC
  t.capture.millitm = 0;
  HandleInTest(t);
  std::vector<std::string> got = daemon.Received(1000);
  ASSERT_EQ(1u, got.size());
  ChronySockRecord r = AsRecord(got[0]);
  EXPECT_EQ(LeapInsert, r.leap);
  EXPECT_EQ(1798759800, r.tv.tv_sec);
  EXPECT_EQ(0.5, r.offset);
  NtpShmSegment seen;
  ASSERT_TRUE(ReadShmUnit(unit, &seen));
  EXPECT_EQ(LeapInsert, seen.leap);
  EXPECT_EQ(1798759800, seen.clockTimeStampSec);
  EXPECT_EQ(500000000u, seen.clockTimeStampNSec);
  EXPECT_EQ(1798759800, seen.receiveTimeStampSec);
  EXPECT_EQ(0u, seen.receiveTimeStampNSec);
}

// Who may have made a unit's segment: root or the program's own user, and
// for units 0 and 1 without write permission for group or others.
TEST(NtpShmProtocol, SegmentTrustedOnlyFromRootOrItselfAndUnitsZeroAndOneUnwritableToOthers) {
  const uid_t self = 1000, other = 1001;
  struct Case {
    int unit;
    uid_t owner, creator;
    unsigned mode;
    int trusted;
  };
  const Case cases[] = {{0, 0, 0, 0600, 1},     {1, self, self, 0644, 1}, {0, 0, 0, 0620, 0},
                        {1, 0, other, 0600, 0}, {2, self, 0, 0666, 1},    {2, other, other, 0666, 0},
                        {2, 0, other, 0600, 0}, {255, other, self, 0666, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(c.trusted, NtpShmTrusted(c.unit, c.owner, c.creator, c.mode, self))
        << c.unit << " " << c.owner << " " << c.creator << " " << std::oct << c.mode;
  }
}

// A segment another user made under the unit's key before the program
// started: refused, logged once, never written; once it is gone, the
// program's own segment is used and that is logged once.
TEST_F(Feed, SegmentMadeInAdvanceByAnotherUserIsRefused) {
  if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0 ||
      access("/usr/bin/python3", X_OK) != 0) {
    GTEST_SKIP() << "needs root, setpriv and python3 to make a segment as another user";
  }
  Settings.ValidDateTimeCount = 1;
  unit = FreeShmUnit();
  ASSERT_GE(unit, 2) << "no free shared-memory unit";
  std::string make = "setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 -c "
                     "'import ctypes; exit(ctypes.CDLL(None).shmget(" +
                     std::to_string(NtpShmKeyBase + unit) + ", " +
                     std::to_string(sizeof(NtpShmSegment)) + ", 0o3666) < 0)'";
  ASSERT_EQ(0, system(make.c_str()));
  StartShm(unit);
  HandleInTest(Telegram(1));
  HandleInTest(Telegram(2));
  std::vector<std::string> log = LoggedMessages();
  const std::string prefix = "NTP shared memory unit " + std::to_string(unit);
  ASSERT_EQ(7u, log.size());
  EXPECT_EQ(prefix + " refused: owner uid 65534, creator uid 65534, mode 666", log[0]);
  NtpShmSegment seen;
  ASSERT_TRUE(ReadShmUnit(unit, &seen));
  EXPECT_EQ(0, seen.count) << "nothing written into it";

  RemoveShmUnit(unit);
  HandleInTest(Telegram(3));
  log = LoggedMessages();
  ASSERT_EQ(11u, log.size());
  EXPECT_EQ(prefix + " works again", log[10]);
  ASSERT_TRUE(ReadShmUnit(unit, &seen));
  EXPECT_EQ(1, seen.valid);
}

// Something other than a socket at the socket's path (a file, a link to
// a socket): nothing is sent, that is logged once, and the daemon's own
// socket there later is logged once as working again.
TEST_F(Feed, PathThatIsNoSocketIsRefused) {
  Settings.ValidDateTimeCount = 1;
  DaemonSocket daemon;
  ASSERT_TRUE(daemon.Bind(dir + "real.sock"));
  const std::string path = dir + "dcf.sock";
  const std::string refused = "chrony socket " + path + " refused: not a socket";
  for (bool link : {false, true}) {
    SCOPED_TRACE(link ? "link" : "file");
    WriteFile(Paths.log, "");
    if (link) {
      ASSERT_EQ(0, symlink(daemon.path.c_str(), path.c_str()));
    } else {
      WriteFile(path, "");
    }
    StartChrony(path);
    HandleInTest(Telegram(1));
    HandleInTest(Telegram(2));
    EXPECT_TRUE(daemon.Received(200).empty());
    std::vector<std::string> log = LoggedMessages();
    EXPECT_EQ(1, std::count(log.begin(), log.end(), refused));
    EXPECT_EQ(7u, log.size());
    ASSERT_EQ(0, unlink(path.c_str()));
  }
  DaemonSocket atPath;
  ASSERT_TRUE(atPath.Bind(path));
  HandleInTest(Telegram(3));
  EXPECT_EQ(1u, atPath.Received(1000).size());
  std::vector<std::string> log = LoggedMessages();
  EXPECT_EQ("chrony socket " + path + " works again", log.back());
}

}  // namespace

namespace {

// The monotonic clock of the feed's reader check, set by the test.
int64_t FakeMonotonicMs = 0;
int FakeClock(clockid_t clock, struct timespec* now) {
  if (clock != CLOCK_MONOTONIC && clock != CLOCK_BOOTTIME) return RealOsCalls.Clock(clock, now);
  now->tv_sec = (time_t)(FakeMonotonicMs / 1000);
  now->tv_nsec = (long)(FakeMonotonicMs % 1000) * 1000000L;
  return 0;
}

std::string FeedText() {
  char text[128];
  DescribeReferenceFeed(text, sizeof text);
  return text;
}

TEST_F(Feed, SegmentWithoutAReaderIsLoggedAfterTwoMinutesOnceAndAReaderOnce) {
  unit = FreeShmUnit();
  ASSERT_GE(unit, 2);
  Settings.ValidDateTimeCount = 1;
  Os.Clock = FakeClock;
  StartShm(unit);
  const std::string u = "shm unit " + std::to_string(unit);
  EXPECT_EQ(u + " no sample yet", FeedText());
  const std::string p = "NTP shared memory unit " + std::to_string(unit) + ": ";
  const std::vector<std::string> lines[] = {{}, {p + "no reader attached for 2 min"}, {p + "a reader attached"}};
  void* reader = nullptr;
  struct Step {
    int64_t ms;
    int attach;  // 1: a reader attaches before the sample, -1: it detaches
    int line;    // the line logged: 0 none, 1 alone for 2 min, 2 a reader back
    const char* state;
  } steps[] = {
      {1000, 0, 0, "waiting for a reader"},   {120999, 0, 0, "waiting for a reader"},
      {121000, 0, 1, "no reader"},            {500000, 0, 0, "no reader"},
      {501000, 1, 2, "reading"},              {502000, 0, 0, "reading"},
      {600000, -1, 0, "waiting for a reader"}, {719999, 0, 0, "waiting for a reader"},
      {720000, 0, 1, "no reader"},            {730000, 1, 2, "reading"},
  };
  int minute = 1;
  for (const Step& s : steps) {
    int id = shmget((key_t)(NtpShmKeyBase + unit), 0, 0);
    ASSERT_GE(id, 0);
    if (s.attach > 0) reader = shmat(id, nullptr, SHM_RDONLY);
    if (s.attach < 0) shmdt(reader);
    FakeMonotonicMs = s.ms;
    size_t before = LoggedMessages().size();
    HandleInTest(Telegram(minute++));
    std::vector<std::string> feedLines;
    std::vector<std::string> log = LoggedMessages();
    for (size_t i = before; i < log.size(); ++i) {
      if (log[i].rfind("NTP shared memory", 0) == 0) feedLines.push_back(log[i]);
    }
    EXPECT_EQ(lines[s.line], feedLines) << "at " << s.ms;
    EXPECT_EQ(u + " " + s.state, FeedText()) << "at " << s.ms;
  }
  shmdt(reader);
}

TEST_F(Feed, DescriptionOfBothFeeds) {
  Settings.ValidDateTimeCount = 1;
  EXPECT_EQ("", FeedText()) << "no feed on";
  const std::string path = dir + "dcf.sock";
  StartChrony(path);
  EXPECT_EQ("chrony, no sample yet", FeedText());
  HandleInTest(Telegram(1));
  EXPECT_EQ("chrony nobody reading", FeedText());
  DaemonSocket daemon;
  ASSERT_TRUE(daemon.Bind(path));
  HandleInTest(Telegram(2));
  EXPECT_EQ("chrony reading", FeedText());
  unit = FreeShmUnit();
  snprintf(Settings.ChronySocket, sizeof Settings.ChronySocket, "%s", path.c_str());
  StartShm(unit);
  HandleInTest(Telegram(3));
  EXPECT_EQ("chrony reading, shm unit " + std::to_string(unit) + " waiting for a reader", FeedText());
  char small[8];
  DescribeReferenceFeed(small, sizeof small);
  EXPECT_STREQ("chrony ", small);
}

}  // namespace
