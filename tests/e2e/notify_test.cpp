// The program as a service manager sees it: a datagram socket of the test's
// own stands in for NOTIFY_SOCKET, the program polls the simulator without
// pause, the simulator's parity fault is switched on and off through a file,
// and a preloaded library moves the program's monotonic clock hours ahead in
// an instant. The readiness, the status line through in step, holding over,
// lost and back, the reception's log lines, and the watchdog's pace.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/programrun.h"
#include "support/simulator.h"
#include "support/socketdir.h"
#include "support/testutil.h"

namespace {

using Clock = std::chrono::steady_clock;

// The manager's end: every datagram with its arrival (the kernel's time
// stamp, in seconds, so a datagram read late still counts when it came).
struct NotifySocket {
  int fd = -1;
  std::string path;
  std::vector<std::pair<double, std::string>> got;
  bool Bind(const std::string& where) {
    path = where;
    fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    int on = 1;
    return fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0 &&
           bind(fd, (const sockaddr*)&address, sizeof address) == 0;
  }
  // Takes datagrams for up to limit s, until one holds want; true when one did.
  bool Await(const std::string& want, double limit) {
    auto end = Clock::now() + std::chrono::milliseconds((int)(limit * 1000));
    while (Clock::now() < end) {
      pollfd p = {fd, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char buffer[512], control[256];
      iovec part = {buffer, sizeof buffer};
      msghdr message = {};
      message.msg_iov = &part;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      ssize_t n = recvmsg(fd, &message, 0);
      cmsghdr* stamp = CMSG_FIRSTHDR(&message);
      if (n <= 0 || stamp == nullptr || stamp->cmsg_type != SCM_TIMESTAMPNS) continue;
      timespec at;
      memcpy(&at, CMSG_DATA(stamp), sizeof at);
      got.emplace_back((double)at.tv_sec + (double)at.tv_nsec / 1e9, std::string(buffer, (size_t)n));
      if (got.back().second.find(want) != std::string::npos) return true;
    }
    return false;
  }
  ~NotifySocket() {
    if (fd >= 0) close(fd);
  }
};

TEST(Notify, StatusFollowsTheReceptionAndTheWatchdogKeepsItsPace) {
  if (!DCF_NOTIFY_SYSTEMD) GTEST_SKIP() << "built without libsystemd: nothing is notified";
  std::string where = SimDirectory();
  std::string dir = SocketDirectory();
  ASSERT_FALSE(dir.empty());
  const std::string faulty = dir + "faulty", shift = dir + "shift";
  ProgramRun run;
  run.Prepare(where);
  Simulator sim;
  ASSERT_TRUE(sim.Start(where, {"--fault", "parity", "--fault-while", faulty}));
  std::string port = sim.Line();
  ASSERT_FALSE(port.empty());
  NotifySocket manager;
  ASSERT_TRUE(manager.Bind(dir + "notify.sock"));
  run.Settings("port=" + port + "\ntimer=0\nTimerEnable=1\nValidDateTimeCount=1\n");
  // The sanitizers' runtime lets the preloaded library come first.
  const char* asan = getenv("ASAN_OPTIONS");
  ASSERT_TRUE(run.Start({"NOTIFY_SOCKET=" + manager.path, "WATCHDOG_USEC=4000000",
                         "LD_PRELOAD=" DCFSYNC_MONOSHIFT, "DCFSYNC_MONOSHIFT_FILE=" + shift,
                         std::string("ASAN_OPTIONS=") + (asan ? asan : "") +
                             ":verify_asan_link_order=0"}));

  // Table: what is done, then the status awaited and the log line it logs.
  struct Stage {
    const char* does;
    const char* status;
    const char* line;
  } stages[] = {
      {"", "READY=1", ""},
      {"", "STATUS=in step: last trusted telegram ", ""},
      {"fault", "", ""},
      {"shift 1000000", "STATUS=holding over since ",
       "Reception holding over: no trusted telegram for 16 min"},
      {"shift 9000000", "STATUS=lost since ", "Reception lost: no trusted telegram for 2 h 30 min"},
      {"clear", "STATUS=in step: last trusted telegram ",
       "Reception in step again after 2 h 30 min without a trusted telegram"},
  };
  for (const Stage& s : stages) {
    std::string does = s.does;
    if (does == "fault") {
      WriteFile(faulty, "");
      ASSERT_TRUE(run.AwaitText("dcfsync.log", "Bad minute parity!", 1, 30)) << run.Log();
      continue;
    }
    if (does.rfind("shift ", 0) == 0) WriteFile(shift, does.substr(6));
    if (does == "clear") std::filesystem::remove(faulty);
    // Back in step once a new minute is counted: up to a minute.
    EXPECT_TRUE(manager.Await(s.status, 90)) << s.status << "\n" << run.Log();
    if (s.line[0] != '\0') {
      EXPECT_TRUE(run.AwaitText("dcfsync.log", s.line, 1, 10)) << s.line;
    }
  }
  manager.Await("never", 3);  // three seconds more of the watchdog
  kill(run.pid, SIGINT);
  EXPECT_EQ(3, run.Wait(600));

  // Each change logged once (the first step shows in the telegram's own
  // lines), and nothing started over.
  std::string log = run.Log();
  EXPECT_EQ(0, Count(log, "Reception in step\n"));
  for (const char* line : {"Reception holding over", "Reception lost", "Reception in step again"}) {
    EXPECT_EQ(1, Count(log, line)) << line << "\n" << log;
  }
  std::vector<double> pings;
  int ready = 0, starting = 0;
  for (const auto& g : manager.got) {
    if (g.second == "WATCHDOG=1") pings.push_back(g.first);
    ready += g.second == "READY=1";
    starting += g.second.rfind("STATUS=starting", 0) == 0;
  }
  EXPECT_EQ(1, ready);
  EXPECT_LE(starting, 1) << "at most before the first telegram";
  ASSERT_GE(pings.size(), 4u);
  double longest = 0;
  for (size_t i = 1; i < pings.size(); ++i) {
    longest = std::max(longest, pings[i] - pings[i - 1]);
  }
  printf("watchdog: %zu pings, longest gap %.2f s (limit 4 s, half 2 s)\n", pings.size(), longest);
  EXPECT_LE(longest, 2.0);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

}  // namespace
