// The program with a pulse receiver (Receiver=1), end to end: the simulator
// writes its line's timeline, a preloaded library answers the status-line
// requests on the port from it in real time, the clock setting goes to the
// recording stub, the sample to a socket in chronyd's place. Three programs
// at once: the one that sets the clock, one on the wrong line, one on
// inverted wiring. SLOW: a complete minute takes up to two minutes to come,
// more on a machine so busy that edges are stamped late (a minute fails its
// checks, the next one is taken), so the runs poll until they have one.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "refclock/refclock_posix.h"
#include "support/programrun.h"
#include "support/simulator.h"
#include "support/socketdir.h"
#include "support/testutil.h"

namespace {

struct PulseRun {
  Simulator sim;
  ProgramRun run;
  std::string port, timeline;
  void Start(const std::string& name, std::vector<std::string> simArgs,
             const std::string& settings, std::vector<std::string> extra = {}) {
    std::string where = SimDirectory() + name + "/";
    run.Prepare(SimDirectory(), name);
    timeline = run.dir + "timeline.txt";
    simArgs.insert(simArgs.begin(), {"--pulse", timeline, "--pulse-minutes", "8"});
    ASSERT_TRUE(sim.Start(run.dir, simArgs));
    port = sim.Line();
    ASSERT_FALSE(port.empty()) << ReadFile(run.dir + "stderr.txt");
    run.Settings("port=" + port + "\nReceiver=1\n" + settings);
    std::string stub = std::string(DCFSYNC_PULSELINE) + ":" + DCFSYNC_SETTIME_STUB;
    const char* asan = getenv("ASAN_OPTIONS");
    extra.insert(extra.end(), {"LD_PRELOAD=" + stub, "DCFSYNC_PULSE_TIMELINE=" + timeline,
                               "DCFSYNC_PULSE_PORT=" + port,
                               "DCFSYNC_SETTIME_RECORD=" + run.dir + "settime.txt",
                               std::string("ASAN_OPTIONS=") + (asan ? asan : "") +
                                   ":verify_asan_link_order=0"});
    ASSERT_TRUE(run.Start(extra));
  }
};

TEST(PulseReceiver, SetsTheClockFeedsAndTellsWrongLineAndInvertedWiring) {
  std::string sockets = SocketDirectory();
  ASSERT_FALSE(sockets.empty());
  std::string sock = sockets + "dcf.sock";
  int daemon = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path, sock.c_str(), sock.size() + 1);
  ASSERT_EQ(0, bind(daemon, (const sockaddr*)&address, sizeof address));

  // The receiver's time 2.5 s ahead of the PC; the receiver's own 250 ms
  // delay, which PulseDelay takes off.
  PulseRun good, wrong, inverted;
  const std::string polling = "TimerEnable=1\ntimer=0\n";
  good.Start("good", {"--offset", "2.5", "--pulse-delay", "250", "--pulse-jitter", "2"},
             polling + "DCFSetTime=1\nValidDateTimeCount=1\nWriteData=1\nPulseDelay=250\n"
             "ChronySocket=" + sock + "\n");
  wrong.Start("wrong", {}, polling + "PulseLine=cts\n");
  inverted.Start("inverted", {"--pulse-invert"}, polling);

  EXPECT_TRUE(good.run.AwaitText("settime.txt", "\n", 1, 240)) << good.run.Log();
  // The inverted run loses the minute in which it sees the wiring inverted,
  // so its first telegram may come a minute after the good run's set.
  EXPECT_TRUE(inverted.run.AwaitText("dcfsync.log", "ContValidTime: 1", 1, 130))
      << inverted.run.Log();
  for (PulseRun* r : {&good, &wrong, &inverted}) {
    kill(r->run.pid, SIGINT);
    EXPECT_EQ(3, r->run.Wait(600));
  }

  // The set: the receiver's time at the call, within a few ms.
  std::vector<std::string> calls = SplitLines(ReadFile(good.run.dir + "settime.txt"));
  ASSERT_GE(calls.size(), 1u) << good.run.Log();
  long long asked = 0, real = 0;
  long askedNs = 0, realNs = 0;
  int clock = -1;
  ASSERT_EQ(5, sscanf(calls[0].c_str(), "%d %lld %ld %lld %ld", &clock, &asked, &askedNs, &real,
                      &realNs));
  double errorMs = (double)(asked - real) * 1000 + (double)(askedNs - realNs) / 1e6 - 2500;
  // Generous: a loaded machine stamps an edge late; PulseDelay left out
  // would be 250 ms.
  EXPECT_NEAR(0.0, errorMs, 100.0) << good.run.Log();

  std::string log = good.run.Log();
  EXPECT_TRUE(Matches(log, "(?:.*\n)*.{20}Reception: \\d+ pulses, \\d+ glitches, 0s \\d+ ms, 1s \\d+ ms\n(?:.*\n)*"))
      << log;
  EXPECT_NE(std::string::npos, log.find("Time diff: 0d 00:00:02.")) << log;
  EXPECT_EQ(std::string::npos, log.find("Receive error!")) << log;
  std::vector<std::string> data = SplitLines(good.run.Data());
  ASSERT_GE(data.size(), 1u);
  EXPECT_EQ(137u, data[0].size());
  EXPECT_EQ("00 3B 00", data[0].substr(20, 8));

  ChronySockRecord sample;
  memset(&sample, 0, sizeof sample);
  ASSERT_EQ((ssize_t)sizeof sample, recv(daemon, &sample, sizeof sample, MSG_DONTWAIT));
  EXPECT_NEAR(2.5, sample.offset, 0.02);

  std::string wrongLog = wrong.run.Log();
  EXPECT_EQ(1, Count(wrongLog, "No pulse on CTS for 10 s\n")) << wrongLog;
  EXPECT_EQ(0, Count(wrongLog, "Reception")) << wrongLog;
  std::string invertedLog = inverted.run.Log();
  EXPECT_EQ(1, Count(invertedLog, "Pulses on DCD look inverted, taken as PulseInvert=1\n"))
      << invertedLog;
  EXPECT_NE(std::string::npos, invertedLog.find("ContValidTime: 1")) << invertedLog;

  close(daemon);
  unlink(sock.c_str());
  rmdir(sockets.c_str());
}

}  // namespace
