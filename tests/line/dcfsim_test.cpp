// The receiver simulator: its encoder against telegrams received off the
// air and around the zone changes, its answers through the program's own
// decoders, and the simulator program itself on a pseudo-terminal.
#include <gtest/gtest.h>

#include "driver/poll.h"
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "clock/evaluate.h"
#include "decode/decode.h"
#include "encode.h"
#include "support/simulator.h"
#include "driver/poll.h"
#include "support/testutil.h"

namespace {

// UTC seconds of a date and time, by the C library rather than the encoder.
int64_t Utc(int year, int month, int day, int hour, int minute) {
  struct tm t = {};
  t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
  t.tm_hour = hour, t.tm_min = minute;
  return (int64_t)timegm(&t);
}

int Bit(const unsigned char* bits, int n) { return (bits[n / 8] >> (n % 8)) & 1; }

// The program's log after decoding one answer with the decoder for command.
std::vector<std::string> Decode(int command, const unsigned char* frame) {
  ResetProgramState();
  testing::internal::CaptureStdout();  // the console copy of the log
  CarryOutAnswer(&TestRun, frame, command == 3 ? FrameRaw : FrameDecodedTime);
  testing::internal::GetCapturedStdout();
  return LoggedMessages();
}

TEST(SimEncoder, ValidatedReceivedTelegramsMatchFromBit16On) {
  std::ifstream in("dcf77-received-minutes.txt");
  ASSERT_TRUE(in.good()) << "telegram corpus missing";
  std::string line;
  bool validated = false;
  int compared = 0;
  std::vector<std::string> skipped;
  while (std::getline(in, line)) {
    if (line.rfind("Packets received", 0) == 0) validated = line.find("validated") != line.npos;
    std::istringstream words(line);
    std::string bits, date, time, zone;
    if (!validated || !(words >> bits >> date >> time >> zone) || bits.size() != 60) continue;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    ASSERT_EQ(sscanf((date + " " + time).c_str(), "%d-%d-%d %d:%d", &y, &mo, &d, &h, &mi), 5)
        << line;
    ASSERT_TRUE(zone == "CET" || zone == "CEST") << line;
    int64_t utc = 0;
    if (!LegalToUtc(y, mo, d, h, mi, zone == "CEST", &utc)) {
      skipped.push_back(date);
      continue;
    }
    LegalMinute minute;
    LegalMinuteAt(utc, &minute);
    unsigned char encoded[TelegramBytes];
    EncodeTelegram(&minute, encoded);
    std::string text;
    for (int n = 16; n <= 58; ++n) text += (char)('0' + Bit(encoded, n));
    EXPECT_EQ(text, bits.substr(16, 43)) << line;
    ++compared;
  }
  EXPECT_EQ(compared, 425);
  // Double-bit errors the parity cannot catch: a 32nd of November, twice.
  EXPECT_EQ(skipped, (std::vector<std::string>{"2024-11-32", "2020-11-32"}));
}

TEST(SimEncoder, ZoneFlagsAnnouncementAndDateAtTheEdges) {
  // The changes themselves: calendar_test.
  // The minute starting at utc: "YYYY-MM-DD hh:mm weekday", CEST, A1.
  const struct { int64_t utc; const char* local; int cest, announce; } cases[] = {
      {Utc(2026, 3, 29, 0, 0), "2026-03-29 01:00 7", 0, 0},
      {Utc(2026, 3, 29, 0, 1), "2026-03-29 01:01 7", 0, 1},
      {Utc(2026, 3, 29, 0, 59), "2026-03-29 01:59 7", 0, 1},
      {Utc(2026, 3, 29, 1, 0), "2026-03-29 03:00 7", 1, 1},
      {Utc(2026, 3, 29, 1, 1), "2026-03-29 03:01 7", 1, 0},
      {Utc(2026, 10, 25, 0, 0), "2026-10-25 02:00 7", 1, 0},
      {Utc(2026, 10, 25, 0, 1), "2026-10-25 02:01 7", 1, 1},
      {Utc(2026, 10, 25, 0, 59), "2026-10-25 02:59 7", 1, 1},
      {Utc(2026, 10, 25, 1, 0), "2026-10-25 02:00 7", 0, 1},
      {Utc(2026, 10, 25, 1, 1), "2026-10-25 02:01 7", 0, 0},
      {Utc(2026, 6, 30, 21, 59), "2026-06-30 23:59 2", 1, 0},
      {Utc(2026, 6, 30, 22, 0), "2026-07-01 00:00 3", 1, 0},
      {Utc(2026, 12, 31, 22, 59), "2026-12-31 23:59 4", 0, 0},
      {Utc(2026, 12, 31, 23, 0), "2027-01-01 00:00 5", 0, 0},
      {Utc(2028, 2, 28, 23, 0), "2028-02-29 00:00 2", 0, 0},
      {Utc(2028, 2, 29, 23, 0), "2028-03-01 00:00 3", 0, 0},
  };
  for (const auto& e : cases) {
    LegalMinute m;
    LegalMinuteAt(e.utc + 59, &m);  // any second of the minute
    char local[32];
    snprintf(local, sizeof local, "%.4d-%.2d-%.2d %.2d:%.2d %d", m.year, m.month, m.day, m.hour,
             m.minute, m.weekday);
    EXPECT_EQ(std::string(local), e.local);
    unsigned char bits[TelegramBytes];
    EncodeTelegram(&m, bits);
    EXPECT_EQ(Bit(bits, 16), e.announce) << e.local;
    EXPECT_EQ(Bit(bits, 17), e.cest) << e.local;
    EXPECT_EQ(Bit(bits, 18), 1 - e.cest) << e.local;
    EXPECT_EQ(Bit(bits, 20), 1) << e.local;
  }
  // Exactly the sixty telegrams of the hour before each change announce it.
  for (int64_t change : {CestStartUtc(2026), CestEndUtc(2026)}) {
    int announcing = 0;
    for (int64_t t = change - 3 * 3600; t <= change + 3 * 3600; t += 60) {
      LegalMinute m;
      LegalMinuteAt(t, &m);
      announcing += m.announce;
    }
    EXPECT_EQ(announcing, 60);
  }
}

TEST(SimEncoder, LegalTimesAreReadInTheirZoneAndNonexistentOnesRefused) {
  // Local date and time, CEST, and the UTC it names (-1: none).
  const struct { int y, mo, d, h, mi, cest; int64_t utc; } cases[] = {
      {2026, 3, 29, 2, 30, 0, -1}, {2026, 3, 29, 2, 30, 1, -1},  // the skipped hour
      {2027, 2, 29, 12, 0, 0, -1}, {2026, 11, 31, 12, 0, 0, -1}, {2026, 13, 1, 12, 0, 0, -1},
      {2026, 7, 1, 12, 0, 0, -1},  // July is CEST
      {2028, 2, 29, 12, 0, 0, Utc(2028, 2, 29, 11, 0)},
      {2026, 10, 25, 2, 30, 1, Utc(2026, 10, 25, 0, 30)},  // the repeated hour
      {2026, 10, 25, 2, 30, 0, Utc(2026, 10, 25, 1, 30)}};
  for (const auto& c : cases) {
    int64_t utc = -1;
    std::string what = std::to_string(c.y * 10000 + c.mo * 100 + c.d) + (c.cest ? " CEST" : "");
    EXPECT_EQ(LegalToUtc(c.y, c.mo, c.d, c.h, c.mi, c.cest, &utc), c.utc >= 0) << what;
    EXPECT_EQ(utc, c.utc) << what;
  }
}

TEST(SimAnswers, RawFrameOfAKnownInstantIsTheModulesFrame) {
  // 08.12.2026 14:35:17.50 CET, as the module sends it.
  const unsigned char expected[RawAnswerSize] = {
      0, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x3B, 0,
      0x00, 0x00, 0xB4, 0x86, 0x82, 0x48, 0x9A, 0x04, 0x00, 0x32, 0x00};
  ModuleTime t;
  ModuleTimeAt((Utc(2026, 12, 8, 13, 35) + 17) * 1000 + 505, &t);
  unsigned char frame[RawAnswerSize];
  BuildRawAnswer(&t, FrameNormal, frame);
  EXPECT_EQ(0, memcmp(frame, expected, sizeof frame));
}

TEST(SimAnswers, BothFramesDecodeToTheirInstantThroughTheProgram) {
  const struct { int64_t ms; const char* flags; const char* time; } cases[] = {
      {Utc(2026, 7, 15, 7, 7) * 1000 + 42990, "R:0 A1:0 Z1:1 Z2:0 A2:0 S:1",
       "09:07:42.990 15.07.2026 Wednesday"},
      {Utc(2028, 2, 29, 22, 59) * 1000 + 59000, "R:0 A1:0 Z1:0 Z2:1 A2:0 S:1",
       "23:59:59.000 29.02.2028 Tuesday"},
      {Utc(2026, 3, 29, 1, 0) * 1000 + 30250, "R:0 A1:1 Z1:1 Z2:0 A2:0 S:1",
       "03:00:30.250 29.03.2026 Sunday"},
      {Utc(2099, 12, 31, 22, 59) * 1000 + 59990, "R:0 A1:0 Z1:0 Z2:1 A2:0 S:1",
       "23:59:59.990 31.12.2099 Thursday"},
  };
  for (const auto& c : cases) {
    ModuleTime t;
    ModuleTimeAt(c.ms, &t);
    unsigned char raw[RawAnswerSize], decoded[DecodedAnswerSize];
    BuildRawAnswer(&t, FrameNormal, raw);
    BuildDecodedAnswer(&t, FrameNormal, decoded);
    for (int command : {3, 4}) {
      std::vector<std::string> lines = Decode(command, command == 3 ? raw : decoded);
      ASSERT_GE(lines.size(), 3u) << c.time;
      EXPECT_EQ(lines[0], c.flags);  // no complaint ahead of the flag line
      EXPECT_EQ(lines[1], c.time);
      EXPECT_EQ(TestRun.counting.ContValidTime, 1) << c.time;  // counted as a valid telegram
    }
  }
}

TEST(SimAnswers, FaultyFramesBringTheirComplaint) {
  ModuleTime t;
  ModuleTimeAt(Utc(2026, 12, 8, 13, 35) * 1000 + 17500, &t);
  const struct { int fault; const char* message; } cases[] = {
      {FrameParity, "Bad minute parity!"},
      {FrameMarks, "Bad marks in new minute!"},
      {FrameIncomplete, "Bad data!"}};
  unsigned char clean[RawAnswerSize];
  BuildRawAnswer(&t, FrameNormal, clean);
  for (const auto& c : cases) {
    unsigned char raw[RawAnswerSize], decoded[DecodedAnswerSize];
    BuildRawAnswer(&t, c.fault, raw);
    BuildDecodedAnswer(&t, c.fault, decoded);
    if (c.fault == FrameParity) {  // minute bit 21 flipped, its parity bit 28 kept
      for (int i = 0; i < RawAnswerSize; ++i)
        EXPECT_EQ(raw[i] ^ clean[i], i == 17 ? 1 << 5 : 0) << i;
    }
    for (int command : {3, 4}) {
      std::vector<std::string> lines = Decode(command, command == 3 ? raw : decoded);
      ASSERT_FALSE(lines.empty()) << c.message;
      EXPECT_EQ(lines[0], c.message) << command;
      if (c.fault == FrameIncomplete) EXPECT_EQ(lines.size(), 1u) << command;
      else EXPECT_EQ(lines[1].rfind("R:", 0), 0u) << command;  // the only complaint
      EXPECT_EQ(TestRun.counting.ContValidTime, 0) << c.message;
    }
  }
}

// ---- The simulator program.

int64_t NowMs() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// A client's end of the line, emptied of what an earlier session left; set
// raw unless the simulator's own line settings are to be used as they are.
struct Port {
  int fd = -1;
  bool Open(const std::string& path, bool setRaw = true) {
    struct termios t;
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    return (!setRaw || tcsetattr(fd, TCSANOW, &t) == 0) && tcflush(fd, TCIOFLUSH) == 0;
  }
  ~Port() { close(fd); }
};

struct Reply {
  std::string bytes;
  int reads = 0;
  int64_t sentMs = 0, lastMs = 0;  // PC clock when sent and at the last byte
  bool hungUp = false;
};

// Sends the command and gathers what comes until quietMs pass without a byte.
Reply Exchange(int fd, int command, int quietMs, bool split = false) {
  Reply r;
  const char bytes[2] = {(char)command, 0};
  if (split) {
    EXPECT_EQ(write(fd, bytes, 1), 1);
    usleep(200000);
  }
  r.sentMs = r.lastMs = NowMs();
  EXPECT_EQ(write(fd, bytes + split, 2 - split), 2 - split);
  for (int wait = quietMs; NowMs() - r.sentMs < 10000; wait = quietMs - (int)(NowMs() - r.lastMs)) {
    pollfd p = {fd, POLLIN, 0};
    char buffer[8192];
    if (wait <= 0 || poll(&p, 1, wait) <= 0) break;
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EAGAIN) continue;
    if ((r.hungUp = n <= 0)) break;
    r.bytes.append(buffer, (size_t)n), r.reads++, r.lastMs = NowMs();
  }
  return r;
}

// The time an answer carries, read through the program's decoder, in ms
// since 1970 (UTC); -1 when it is no clean answer.
int64_t AnswerTimeMs(int command, const Reply& r) {
  EXPECT_EQ(r.bytes.size(), command == 3 ? 26u : 10u);
  if (r.bytes.size() != (command == 3 ? 26u : 10u)) return -1;
  std::vector<std::string> lines = Decode(command, (const unsigned char*)r.bytes.data());
  int h, mi, s, ms, d, mo, y;
  EXPECT_EQ(lines.size(), 3u) << "not a clean answer";
  if (lines.size() != 3u ||
      sscanf(lines[1].c_str(), "%d:%d:%d.%d %d.%d.%d", &h, &mi, &s, &ms, &d, &mo, &y) != 7) {
    return -1;
  }
  int64_t utc = 0;
  EXPECT_TRUE(LegalToUtc(y, mo, d, h, mi, lines[0].find("Z1:1") != std::string::npos, &utc));
  return (utc + s) * 1000 + ms;
}

// The answer lies within slackMs of the PC clock shifted by offsetMs between
// sending the command and its last byte.
void ExpectCurrent(int command, const Reply& r, int64_t offsetMs, int64_t slackMs) {
  int64_t at = AnswerTimeMs(command, r);
  ASSERT_GE(at, 0);
  EXPECT_GE(at, r.sentMs + offsetMs - slackMs);
  EXPECT_LE(at, r.lastMs + offsetMs + slackMs);
}

TEST(SimProgram, AnswersWithTheCurrentTimeOnItsLinkAndEndsOnSigterm) {
  std::string dir = SimDirectory(), link = dir + "port";
  unlink(link.c_str());
  ASSERT_EQ(symlink("/nonexistent", link.c_str()), 0);  // a stale link is replaced
  Simulator sim;
  ASSERT_TRUE(sim.Start(dir, {"--link", link}));
  ASSERT_EQ(sim.Line(), link);
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target).rfind("/dev/", 0), 0u) << target;

  // The client leaves the line as the simulator set it: no echo, no CR/LF
  // or XON/XOFF handling, so every byte must come through as sent.
  for (int session = 0; session < 2; ++session) {
    if (session == 1) usleep(300000);  // a while with no client on the line
    Port port;
    ASSERT_TRUE(port.Open(link, false));
    EXPECT_EQ(Exchange(port.fd, 1, 300).bytes, "DCFSIM 1.0\r\n");
    ExpectCurrent(3, Exchange(port.fd, 3, 300), 0, 2000);
    ExpectCurrent(4, Exchange(port.fd, 4, 300), 0, 2000);
    // An unknown command goes unanswered; one split over two writes is gathered.
    EXPECT_EQ(Exchange(port.fd, 7, 300).bytes.size(), 0u);
    ExpectCurrent(4, Exchange(port.fd, 4, 300, true), 0, 2000);
  }
  EXPECT_EQ(sim.Wait(SIGTERM), 0);
  struct stat st;
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "link left behind";
  EXPECT_NE(ReadFile(sim.errors).find("unknown command 07 00"), std::string::npos);
}

TEST(SimProgram, ServesAnExistingDeviceWithItsOffsetAndEndsOnSigint) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_TRUE(grantpt(master) == 0 && unlockpt(master) == 0);
  std::string device = ptsname(master);
  Simulator sim;
  ASSERT_TRUE(sim.Start(SimDirectory(),
                        {"--device", device, "--baud", "9600", "--offset", "-3.5"}));
  EXPECT_EQ(sim.Line(), device);
  ExpectCurrent(3, Exchange(master, 3, 300), -3500, 1000);
  ExpectCurrent(4, Exchange(master, 4, 300), -3500, 1000);
  EXPECT_EQ(sim.Wait(SIGINT), 0);
  close(master);
}

TEST(SimProgram, FaultsShapeTheAnswers) {
  // Per command the answer's length and the program's complaint (null: none).
  // Silence is awaited for 1.5 s the first time in a run, 0.6 s after that.
  struct Step { int command; size_t length; const char* complaint; };
  const struct { std::vector<std::string> args; std::vector<Step> steps; } rows[] = {
      {{"--fault", "surplus"}, {{1, 12, nullptr}, {3, 30, nullptr}, {4, 14, nullptr}}},
      {{"--fault", "short-ident"}, {{1, 5, nullptr}, {3, 26, nullptr}}},
      {{"--fault", "mute"}, {{1, 0, nullptr}, {3, 0, nullptr}}},
      {{"--fault", "silent"}, {{1, 12, nullptr}, {3, 0, nullptr}, {4, 0, nullptr}}},
      {{"--fault", "flood"}, {{1, 12, nullptr}, {3, 5026, nullptr}}},
      {{"--fault", "parity", "--fault-after", "1"},
       {{4, 10, nullptr}, {3, 26, "Bad minute parity!"}, {4, 10, "Bad minute parity!"}}},
      {{"--fault", "incomplete"}, {{3, 26, "Bad data!"}, {4, 10, "Bad data!"}}},
  };
  std::string dir = SimDirectory();
  for (const auto& row : rows) {
    Simulator sim;
    ASSERT_TRUE(sim.Start(dir, row.args));
    Port port;
    ASSERT_TRUE(port.Open(sim.Line())) << row.args[1];
    int silences = 0;
    for (const Step& step : row.steps) {
      std::string what = row.args[1] + " command " + std::to_string(step.command);
      int quietMs = step.length > 0 ? 300 : silences++ == 0 ? 1500 : 600;
      Reply r = Exchange(port.fd, step.command, quietMs);
      ASSERT_EQ(r.bytes.size(), step.length) << what;
      if (step.command == 1 || step.length == 0 || step.length > 26) continue;
      std::vector<std::string> lines = Decode(step.command, (const unsigned char*)r.bytes.data());
      ASSERT_FALSE(lines.empty()) << what;
      if (step.complaint) EXPECT_EQ(lines[0], step.complaint) << what;
      else EXPECT_EQ(lines[0].rfind("R:", 0), 0u) << what;  // no complaint ahead of the flags
    }
  }
}

TEST(SimProgram, TrickleSpreadsAnAnswerOverMoreThanTwoSeconds) {
  Simulator sim;
  ASSERT_TRUE(sim.Start(SimDirectory(), {"--fault", "trickle"}));
  Port port;
  ASSERT_TRUE(port.Open(sim.Line()));
  Reply ident = Exchange(port.fd, 1, 300);
  EXPECT_EQ(ident.bytes.size(), 12u);
  EXPECT_LT(ident.lastMs - ident.sentMs, 1000);  // the identification comes at once
  Reply raw = Exchange(port.fd, 3, 1000);
  EXPECT_GE(raw.reads, 3);
  EXPECT_GT(raw.lastMs - raw.sentMs, 2000);
  ExpectCurrent(3, raw, 0, 2000);
}

TEST(SimProgram, AnswersLeaveAtTheLineRateAndCarryTheTimeOfTheCommand) {
  // Per rate and command: the least time from the command to the last byte
  // (10 bits a byte), with the module's processing delay added.
  const struct { std::vector<std::string> args; int command; int64_t wireMs; } cases[] = {
      {{"--baud", "1200"}, 3, 217},  // 26 bytes
      {{"--baud", "1200"}, 4, 83},   // 10 bytes
      {{"--baud", "2400"}, 1, 50},   // the identification, 12 bytes
      {{"--latency", "250"}, 3, 250 + 14},
      {{}, 3, 14},
  };
  std::string dir = SimDirectory();
  for (const auto& c : cases) {
    std::string what = (c.args.empty() ? "19200" : c.args[0] + " " + c.args[1]) +
                       " command " + std::to_string(c.command);
    Simulator sim;
    ASSERT_TRUE(sim.Start(dir, c.args));
    Port port;
    ASSERT_TRUE(port.Open(sim.Line())) << what;
    Reply r = Exchange(port.fd, c.command, 300);
    int64_t took = r.lastMs - r.sentMs;
    EXPECT_GE(took, c.wireMs - 2) << what;
    EXPECT_LE(took, c.wireMs + 150) << what;  // a loaded machine
    if (c.wireMs > 40) {
      EXPECT_GE(r.reads, 3) << what << ": not paced";
    }
    if (c.command == 1) continue;
    // Hundredths cut, stamped when the command came: before the answer left.
    int64_t at = AnswerTimeMs(c.command, r);
    EXPECT_GE(at, r.sentMs - 10) << what;
    EXPECT_LE(at, r.sentMs + 40) << what;
  }
}

TEST(SimProgram, HangupFaultClosesTheLineAndExitsWithZero) {
  std::string dir = SimDirectory(), link = dir + "port";
  Simulator sim;
  ASSERT_TRUE(sim.Start(dir, {"--link", link, "--fault", "hangup", "--fault-after", "1"}));
  Port port;
  ASSERT_TRUE(port.Open(sim.Line()));
  EXPECT_EQ(Exchange(port.fd, 3, 300).bytes.size(), 26u);
  Reply last = Exchange(port.fd, 4, 1500);
  EXPECT_EQ(last.bytes.size(), 0u);
  EXPECT_TRUE(last.hungUp);
  EXPECT_EQ(sim.Wait(0), 0);
  struct stat st;
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "link left behind";
}

TEST(SimProgram, BadOptionsAndUnopenableDevicesFail) {
  const std::vector<std::vector<std::string>> cases = {
      {"--fault", "nonsense"}, {"--baud", "12345"}, {"--offset", "3s"}, {"--latency", "-5"},
      {"--gap"}, {"--colour", "red"}, {"--device", "/nonexistent/tty"}};
  std::string dir = SimDirectory();
  for (const auto& args : cases) {
    Simulator sim;
    ASSERT_TRUE(sim.Start(dir, args));
    EXPECT_EQ(sim.Line(), "") << args[0];
    int status = sim.Wait(0);
    EXPECT_GT(status, 0) << args[0];
    EXPECT_LT(status, 128) << args[0];  // an exit, not a crash
  }
}

}  // namespace
