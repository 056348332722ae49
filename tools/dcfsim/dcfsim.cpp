// dcfsim: plays the DCF77 receiver module on a pseudo-terminal (or on an
// existing serial device) for dcfsync's tests and demonstrations. It answers
// the module's 2-byte commands with the frames the module would send for the
// current UTC time, optionally shifted and optionally broken on purpose.
//
// Timing as on a real line: a telegram answer carries the time at which its
// command came (hundredths cut, as the module's counter reads them), after
// an optional processing delay (--latency), and every answer leaves one byte
// per 10 bit times at the line rate (--baud), also on the pseudo-terminal,
// which has no rate of its own.
#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "encode.h"

enum Fault {
  FaultNone, FaultSilent, FaultMute, FaultTrickle, FaultSurplus, FaultFlood, FaultGarbage,
  FaultParity, FaultMarks, FaultIncomplete, FaultHangup, FaultShortIdent, FaultHangupMid,
  FaultStale, FaultNoZone, FaultFlipped, FaultCount
};
static const char FaultNames[FaultCount][12] = {
    "none", "silent", "mute", "trickle", "surplus", "flood", "garbage",
    "parity", "marks", "incomplete", "hangup", "short-ident", "hangup-mid", "stale", "no-zone",
    "flipped"};

enum {
  PathSize = 256,
  CommandIdent = 0x01,
  CommandRaw = 0x03,
  CommandDecoded = 0x04,
  ShortIdentSize = 5,
  TricklePieces = 5,  // four gaps: at the default gap an answer takes 2.4 s
  SurplusBytes = 4,
  StaleBytes = 8,
  FloodChunk = 512,
  WriteWaitMs = 2000,  // a line that takes nothing for this long drops the rest
  MaxFloodBytes = 1 << 24
};

static const char IdentText[IdentAnswerSize + 1] = "DCFSIM 1.0\r\n";
// Sent unasked by the stale fault, so that it lies in the line when the
// client's next command comes.
static const char StaleText[StaleBytes + 1] = "STALE!\r\n";

struct Options {
  char link[PathSize];    // symbolic link to the served line, or empty
  char device[PathSize];  // existing device to serve instead of a pty, or empty
  long baud;
  int64_t offsetMs;       // added to the clock before encoding
  int64_t stepMs;         // added once more for every telegram answered before
  long latencyMs;         // the module's processing time before a telegram answer
  int fault;
  long gapMs;             // pause between trickled pieces
  long floodBytes;
  long faultAfter;        // telegram commands served normally first
  char faultWhile[PathSize];  // non-empty: the fault only while this file exists
  int verbose;
  char pulse[PathSize];   // pulse receiver: the timeline file of its line, or empty
  long pulseMinutes;
  PulseFaults pulseFaults;
};

struct Session {
  const Options* options;
  int fd;                 // the module's side of the line
  int paced;              // non-zero: bytes are sent at the line rate here (a pty)
  int64_t byteNs;         // one byte on the line: 10 bits at the rate
  int64_t lineFreeNs;     // monotonic time when the last byte sent is through
  long telegramCommands;  // telegram commands received so far
  uint32_t random;        // state of the byte generator for faulty answers
};

static volatile sig_atomic_t StopRequested;
static sigset_t WaitMask;  // signal mask while waiting: the stop signals get through

static void OnStopSignal(int) { StopRequested = 1; }

// Waits up to timeoutMs (negative: without limit) until fd is readable (or
// writable); fd -1 just sleeps. Stop signals are only delivered in here.
// Returns 1 ready, 0 time up, -1 stop requested or failure.
static int WaitLine(int fd, int forWrite, long timeoutMs) {
  if (StopRequested) return -1;
  fd_set set;
  FD_ZERO(&set);
  if (fd >= 0) FD_SET(fd, &set);
  struct timespec limit;
  limit.tv_sec = (time_t)(timeoutMs / 1000);
  limit.tv_nsec = (timeoutMs % 1000) * 1000000L;
  int n = pselect(fd + 1, forWrite ? NULL : &set, forWrite ? &set : NULL, NULL,
                  timeoutMs < 0 ? NULL : &limit, &WaitMask);
  if (n < 0) return (errno == EINTR && !StopRequested) ? 0 : -1;
  return n > 0 ? 1 : 0;
}

static int64_t MonotonicNs(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (int64_t)now.tv_sec * 1000000000 + now.tv_nsec;
}

// Waits until the monotonic clock reaches dueNs; stop signals get through.
// Returns 0 when the time has come, -1 on a stop request.
static int WaitUntil(int64_t dueNs) {
  for (;;) {
    if (StopRequested) return -1;
    int64_t rest = dueNs - MonotonicNs();
    if (rest <= 0) return 0;
    struct timespec limit;
    limit.tv_sec = (time_t)(rest / 1000000000);
    limit.tv_nsec = (long)(rest % 1000000000);
    if (pselect(0, NULL, NULL, NULL, &limit, &WaitMask) < 0 && errno != EINTR) return -1;
  }
}

static int64_t ClockMilliseconds(void) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

static unsigned char RandomByte(Session* s) {
  uint32_t x = s->random;  // xorshift32
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  s->random = x;
  return (unsigned char)(x >> 24);
}

static void LogBytes(const char* what, const unsigned char* data, size_t size) {
  char text[3 * 32 + 8];
  size_t used = 0;
  text[0] = '\0';
  for (size_t i = 0; i < size && i < 32; ++i)
    used += (size_t)snprintf(text + used, sizeof text - used, " %.2X", data[i]);
  if (size > 32) snprintf(text + used, sizeof text - used, " ...");
  fprintf(stderr, "dcfsim: %s (%zu bytes):%s\n", what, size, text);
}

// Writes everything, waiting while the line is full. Returns 0 when the
// line fails, stays blocked or a stop is requested.
static int WriteAll(int fd, const unsigned char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n > 0) {
      done += (size_t)n;
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      fprintf(stderr, "dcfsim: write: %s\n", strerror(errno));
      return 0;
    }
    int ready = WaitLine(fd, 1, WriteWaitMs);
    if (ready <= 0) {
      if (ready == 0) fprintf(stderr, "dcfsim: line blocked, %zu bytes dropped\n", size - done);
      return 0;
    }
  }
  return 1;
}

// Sends bytes as the line would carry them. On a pty each byte is handed
// over once its 10 bits would have passed at the rate, counted from when the
// line became free (the first byte's start bit), so the pace does not drift;
// a real device paces itself. Returns 0 as WriteAll does.
static int SendBytes(Session* s, const unsigned char* data, size_t size) {
  if (!s->paced) return WriteAll(s->fd, data, size);
  int64_t start = MonotonicNs();
  if (start < s->lineFreeNs) start = s->lineFreeNs;
  for (size_t i = 0; i < size; ++i) {
    int64_t due = start + (int64_t)(i + 1) * s->byteNs;
    if (WaitUntil(due) < 0) return 0;
    if (!WriteAll(s->fd, data + i, 1)) return 0;
    s->lineFreeNs = due;
  }
  return 1;
}

// Sends a telegram answer shaped by the fault in force.
static void SendTelegramAnswer(Session* s, int fault, unsigned char* answer, size_t size) {
  const Options* o = s->options;
  if (fault == FaultGarbage) {
    for (size_t i = 0; i < size; ++i) answer[i] = RandomByte(s);
  }
  if (fault == FaultSurplus) {
    for (size_t i = 0; i < SurplusBytes; ++i) answer[size + i] = RandomByte(s);
    size += SurplusBytes;
  }
  if (o->verbose) LogBytes("answer", answer, size);
  if (fault != FaultTrickle) {
    if (!SendBytes(s, answer, size)) return;
  } else {
    for (size_t piece = 0; piece < TricklePieces; ++piece) {
      if (piece > 0 && WaitLine(-1, 0, o->gapMs) < 0) return;
      size_t from = size * piece / TricklePieces, to = size * (piece + 1) / TricklePieces;
      if (!SendBytes(s, answer + from, to - from)) return;
    }
  }
  if (fault == FaultFlood) {
    unsigned char chunk[FloodChunk];
    for (long left = o->floodBytes; left > 0; left -= FloodChunk) {
      size_t n = left < FloodChunk ? (size_t)left : (size_t)FloodChunk;
      for (size_t i = 0; i < n; ++i) chunk[i] = RandomByte(s);
      if (!SendBytes(s, chunk, n)) return;
    }
    if (o->verbose) fprintf(stderr, "dcfsim: flooded %ld bytes\n", o->floodBytes);
  }
}

// The stale fault's unasked bytes: at the start at once, after a telegram
// answer only --gap ms later, once the client has taken that answer.
static void SendStale(Session* s) {
  if (s->telegramCommands > 0 && WaitLine(-1, 0, s->options->gapMs) < 0) return;
  if (s->options->verbose) LogBytes("unasked", (const unsigned char*)StaleText, StaleBytes);
  SendBytes(s, (const unsigned char*)StaleText, StaleBytes);
}

// Answers one command. Returns 0 when a hangup fault ends the session.
static int HandleCommand(Session* s, unsigned char code, unsigned char argument) {
  const Options* o = s->options;
  if (argument != 0 || (code != CommandIdent && code != CommandRaw && code != CommandDecoded)) {
    fprintf(stderr, "dcfsim: unknown command %.2X %.2X, not answered\n", code, argument);
    return 1;
  }
  int fault = s->telegramCommands >= o->faultAfter ? o->fault : (int)FaultNone;
  if (o->faultWhile[0] != '\0' && access(o->faultWhile, F_OK) != 0) fault = FaultNone;
  if (o->verbose) {
    static const char* const names[] = {"", "identification", "", "raw telegram", "decoded time"};
    fprintf(stderr, "dcfsim: command %.2X 00 (%s), fault %s\n", code, names[code],
            FaultNames[fault]);
  }
  if (fault == FaultMute) return 1;
  if (code == CommandIdent) {
    size_t size = fault == FaultShortIdent ? (size_t)ShortIdentSize : (size_t)IdentAnswerSize;
    if (o->verbose) LogBytes("answer", (const unsigned char*)IdentText, size);
    SendBytes(s, (const unsigned char*)IdentText, size);
    return 1;
  }
  ++s->telegramCommands;
  if (fault == FaultHangup) return 0;
  if (fault == FaultSilent) return 1;

  // The module's time as its clock reads at the command, cut to hundredths.
  ModuleTime now;
  ModuleTimeAt(ClockMilliseconds() + o->offsetMs + (s->telegramCommands - 1) * o->stepMs, &now);
  if (o->latencyMs > 0 && WaitLine(-1, 0, o->latencyMs) < 0) return 1;
  int frameFault = fault == FaultParity ? FrameParity
                   : fault == FaultMarks ? FrameMarks
                   : fault == FaultIncomplete ? FrameIncomplete
                   : fault == FaultNoZone ? FrameNoZone : FrameNormal;
  // Flipped: parity-valid corruption in two windows of every minute.
  if (fault == FaultFlipped && now.second >= 20 && now.second < 30) frameFault = FrameFlipHour;
  if (fault == FaultFlipped && now.second >= 40 && now.second < 50) frameFault = FrameFlipMinute;
  unsigned char answer[RawAnswerSize + SurplusBytes];
  size_t size = RawAnswerSize;
  if (code == CommandRaw) {
    BuildRawAnswer(&now, frameFault, answer);
  } else {
    BuildDecodedAnswer(&now, frameFault, answer);
    size = DecodedAnswerSize;
  }
  if (fault == FaultHangupMid) {
    // Half the answer, time for the client to take it, then the line is gone.
    if (o->verbose) LogBytes("answer, cut", answer, size / 2);
    if (SendBytes(s, answer, size / 2)) WaitLine(-1, 0, o->gapMs);
    return 0;
  }
  SendTelegramAnswer(s, fault, answer, size);
  if (fault == FaultStale) SendStale(s);
  return 1;
}

// Serves commands until a stop signal (0), a hangup fault (0) or a line
// failure (1). Commands are gathered two bytes at a time, across reads.
static int Serve(Session* s) {
  unsigned char command[2];
  size_t have = 0;
  while (!StopRequested) {
    int ready = WaitLine(s->fd, 0, -1);
    if (ready < 0) break;
    if (ready == 0) continue;
    unsigned char input[64];
    ssize_t n = read(s->fd, input, sizeof input);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    if (n <= 0) {
      fprintf(stderr, "dcfsim: line closed%s%s\n", n < 0 ? ": " : "", n < 0 ? strerror(errno) : "");
      return 1;
    }
    for (ssize_t i = 0; i < n && !StopRequested; ++i) {
      command[have++] = input[i];
      if (have < 2) continue;
      have = 0;
      if (!HandleCommand(s, command[0], command[1])) {
        if (s->options->verbose) fprintf(stderr, "dcfsim: hanging up\n");
        return 0;
      }
    }
  }
  return StopRequested ? 0 : 1;
}

static int BaudConstant(long baud, speed_t* speed) {
  static const struct { long baud; speed_t speed; } rates[] = {
      {1200, B1200}, {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200},
      {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400}};
  for (size_t i = 0; i < sizeof rates / sizeof rates[0]; ++i) {
    if (rates[i].baud == baud) {
      *speed = rates[i].speed;
      return 1;
    }
  }
  return 0;
}

// Raw 8N1: no echo, no line editing, no translation, no flow control.
static int SetRawLine(int fd, speed_t speed) {
  struct termios t;
  if (tcgetattr(fd, &t) != 0) return 0;
  t.c_iflag &= ~(tcflag_t)(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                           ICRNL | IXON | IXOFF | IXANY);
  t.c_oflag &= ~(tcflag_t)OPOST;
  t.c_lflag &= ~(tcflag_t)(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~(tcflag_t)(CSIZE | PARENB | CSTOPB);
#ifdef CRTSCTS
  t.c_cflag &= ~(tcflag_t)CRTSCTS;
#endif
  t.c_cflag |= (tcflag_t)(CS8 | CREAD | CLOCAL);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return 0;
  return tcsetattr(fd, TCSANOW, &t) == 0 ? 1 : 0;
}

// A new pty: master for the module, the slave kept open here as well so
// the master sees no hang-up while no client has the port open.
static int OpenPseudoTerminal(speed_t speed, int* master, int* slave, char* slavePath) {
  *master = posix_openpt(O_RDWR | O_NOCTTY);
  if (*master < 0 || grantpt(*master) != 0 || unlockpt(*master) != 0) return 0;
  const char* name = ptsname(*master);
  if (name == NULL || snprintf(slavePath, PathSize, "%s", name) >= PathSize) return 0;
  *slave = open(slavePath, O_RDWR | O_NOCTTY);
  if (*slave < 0 || !SetRawLine(*slave, speed)) return 0;
  return fcntl(*master, F_SETFL, O_NONBLOCK) == 0 ? 1 : 0;
}

// Points link at target, replacing an existing symbolic link (only that).
static int MakeLink(const char* link, const char* target) {
  struct stat st;
  if (lstat(link, &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      fprintf(stderr, "dcfsim: %s exists and is no symbolic link\n", link);
      return 0;
    }
    unlink(link);
  }
  if (symlink(target, link) != 0) {
    fprintf(stderr, "dcfsim: cannot create link %s: %s\n", link, strerror(errno));
    return 0;
  }
  return 1;
}

// Removes link if it still points at target.
static void RemoveLink(const char* link, const char* target) {
  char now[PathSize];
  ssize_t n = readlink(link, now, sizeof now - 1);
  if (n < 0) return;
  now[n] = '\0';
  if (strcmp(now, target) == 0) unlink(link);
}

// The pulse receiver's timeline from now, shifted as --offset asks.
static int WriteTimeline(const Options* o) {
  enum { Capacity = 1440 * 60 * 6 };
  static PulseTimelineEdge edges[Capacity];
  PulseFaults faults = o->pulseFaults;
  faults.seed = (uint32_t)ClockMilliseconds() ^ ((uint32_t)getpid() << 16);
  int count = BuildPulseTimeline(ClockMilliseconds(), (int)o->pulseMinutes, o->offsetMs, &faults,
                                 edges, Capacity);
  FILE* file = fopen(o->pulse, "w");
  if (file == NULL) {
    fprintf(stderr, "dcfsim: cannot write %s: %s\n", o->pulse, strerror(errno));
    return 0;
  }
  for (int i = 0; i < count; ++i) fprintf(file, "%lld %d\n", (long long)edges[i].utcMs, edges[i].level);
  return fclose(file) == 0;
}

static void Usage(FILE* to) {
  fprintf(to,
          "usage: dcfsim [--link PATH] [--device PATH] [--baud N] [--offset SECONDS]\n"
          "              [--step SECONDS] [--latency MS] [--fault NAME] [--fault-after N]\n"
          "              [--fault-while FILE] [--gap MS] [--flood-bytes N] [--verbose]\n"
          "              [--pulse FILE [--pulse-minutes N] [--pulse-glitch PCT] [--pulse-lost PCT]\n"
          "               [--pulse-flip PCT] [--pulse-jitter MS] [--pulse-delay MS] [--pulse-invert]]\n"
          "Plays the DCF77 receiver module and prints the port to use as one line:\n"
          "the --link path, else the pseudo-terminal, else the --device served.\n"
          "Answers leave at the line rate (--baud, default 19200), one byte per 10 bits.\n"
          "Faults: none silent mute trickle surplus flood garbage parity marks\n"
          "        incomplete hangup short-ident hangup-mid stale no-zone flipped\n"
          "(flipped: two bits of the hour flipped at seconds 20-29 of each minute,\n"
          "of the minute at seconds 40-49; their parity still even)\n"
          "--fault-while FILE: the fault only while FILE exists.\n"
          "--pulse: a pulse receiver instead, its line's edges from now on written to\n"
          "FILE as \"UTC-ms level\" lines (the line stays served, without status lines).\n");
}

static int ParseLong(const char* text, long low, long high, long* value) {
  char* end = NULL;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return 0;
  *value = v;
  return 1;
}

// Returns 1 to run, 0 on a bad option (reported), 2 after --help.
static int ParseOptions(int argc, char** argv, Options* o) {
  memset(o, 0, sizeof *o);
  o->baud = 19200;
  o->gapMs = 600;
  o->floodBytes = 5000;
  o->pulseMinutes = 10;
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    if (strcmp(name, "--verbose") == 0) {
      o->verbose = 1;
      continue;
    }
    if (strcmp(name, "--help") == 0) return 2;
    if (strcmp(name, "--pulse-invert") == 0) {
      o->pulseFaults.invert = 1;
      continue;
    }
    if (i + 1 >= argc) {
      fprintf(stderr, "dcfsim: %s: %s\n", name,
              strncmp(name, "--", 2) == 0 ? "value missing or unknown option" : "unknown option");
      return 0;
    }
    const char* value = argv[++i];
    int ok = 1;
    if (strcmp(name, "--link") == 0 || strcmp(name, "--device") == 0 ||
        strcmp(name, "--fault-while") == 0) {
      char* target = name[2] == 'l' ? o->link : name[2] == 'd' ? o->device : o->faultWhile;
      ok = value[0] != '\0' && snprintf(target, PathSize, "%s", value) < PathSize;
    } else if (strcmp(name, "--baud") == 0) {
      speed_t unused;
      ok = ParseLong(value, 1, 4000000, &o->baud) && BaudConstant(o->baud, &unused);
    } else if (strcmp(name, "--offset") == 0 || strcmp(name, "--step") == 0) {
      char* end = NULL;
      double seconds = strtod(value, &end);
      // Up to about a century either way; a step up to a day.
      double most = name[2] == 'o' ? 3.2e9 : 86400.0;
      ok = end != value && *end == '\0' && isfinite(seconds) && fabs(seconds) <= most;
      if (ok) *(name[2] == 'o' ? &o->offsetMs : &o->stepMs) = (int64_t)llround(seconds * 1000.0);
    } else if (strcmp(name, "--fault") == 0) {
      o->fault = FaultCount;
      for (int f = 0; f < FaultCount; ++f) {
        if (strcmp(value, FaultNames[f]) == 0) o->fault = f;
      }
      ok = o->fault != FaultCount;
    } else if (strcmp(name, "--fault-after") == 0) {
      ok = ParseLong(value, 0, 1000000000L, &o->faultAfter);
    } else if (strcmp(name, "--latency") == 0) {
      ok = ParseLong(value, 0, 60000, &o->latencyMs);
    } else if (strcmp(name, "--gap") == 0) {
      ok = ParseLong(value, 0, 60000, &o->gapMs);
    } else if (strcmp(name, "--pulse") == 0) {
      ok = value[0] != '\0' && snprintf(o->pulse, PathSize, "%s", value) < PathSize;
    } else if (strcmp(name, "--pulse-minutes") == 0) {
      ok = ParseLong(value, 1, 1440, &o->pulseMinutes);
    } else if (strcmp(name, "--pulse-jitter") == 0 || strcmp(name, "--pulse-delay") == 0) {
      long ms = 0;
      ok = ParseLong(value, 0, 300, &ms);
      *(name[8] == 'j' ? &o->pulseFaults.jitterMs : &o->pulseFaults.delayMs) = (int)ms;
    } else if (strcmp(name, "--pulse-glitch") == 0 || strcmp(name, "--pulse-lost") == 0 ||
               strcmp(name, "--pulse-flip") == 0) {
      char* end = NULL;
      double percent = strtod(value, &end);
      ok = end != value && *end == '\0' && percent >= 0 && percent <= 100;
      double* target = name[8] == 'g' ? &o->pulseFaults.glitch
                       : name[8] == 'l' ? &o->pulseFaults.lost : &o->pulseFaults.flip;
      *target = percent / 100;
    } else if (strcmp(name, "--flood-bytes") == 0) {
      ok = ParseLong(value, 0, MaxFloodBytes, &o->floodBytes);
    } else {
      fprintf(stderr, "dcfsim: unknown option %s\n", name);
      return 0;
    }
    if (!ok) {
      fprintf(stderr, "dcfsim: bad value for %s: %s\n", name, value);
      return 0;
    }
  }
  return 1;
}

int main(int argc, char** argv) {
  Options options;
  int parsed = ParseOptions(argc, argv, &options);
  if (parsed != 1) {
    Usage(parsed == 2 ? stdout : stderr);
    return parsed == 2 ? 0 : 2;
  }
  speed_t speed = B19200;
  BaudConstant(options.baud, &speed);

  // Stop signals stay blocked except while waiting, so a stop is never lost
  // between a check and the wait.
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, NULL);
  sigaction(SIGINT, &action, NULL);
  signal(SIGPIPE, SIG_IGN);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigprocmask(SIG_BLOCK, &stopSignals, &WaitMask);
  sigdelset(&WaitMask, SIGTERM);
  sigdelset(&WaitMask, SIGINT);

  int line = -1, ownSlave = -1;
  char linePath[PathSize];
  if (options.device[0] != '\0') {
    snprintf(linePath, sizeof linePath, "%s", options.device);
    line = open(linePath, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (line < 0 || !SetRawLine(line, speed)) {
      fprintf(stderr, "dcfsim: cannot open %s as a serial line at %ld baud: %s\n", linePath,
              options.baud, strerror(errno));
      return 1;
    }
  } else if (!OpenPseudoTerminal(speed, &line, &ownSlave, linePath)) {
    fprintf(stderr, "dcfsim: cannot set up a pseudo-terminal: %s\n", strerror(errno));
    return 1;
  }
  if (options.link[0] != '\0' && !MakeLink(options.link, linePath)) return 1;
  if (options.pulse[0] != '\0' && !WriteTimeline(&options)) return 1;
  printf("%s\n", options.link[0] != '\0' ? options.link : linePath);
  fflush(stdout);
  if (options.verbose)
    fprintf(stderr, "dcfsim: serving %s, fault %s after %ld telegram commands\n", linePath,
            FaultNames[options.fault], options.faultAfter);

  Session session;
  session.options = &options;
  session.fd = line;
  session.paced = options.device[0] == '\0';
  session.byteNs = 10 * (int64_t)1000000000 / options.baud;
  session.lineFreeNs = 0;
  session.telegramCommands = 0;
  session.random = (uint32_t)ClockMilliseconds() ^ ((uint32_t)getpid() << 16) ^ 0x9E3779B9u;
  if (session.random == 0) session.random = 1;
  // Stale bytes already wait in the line when the client opens it.
  if (options.fault == FaultStale && options.faultAfter == 0) SendStale(&session);
  int status = Serve(&session);

  close(line);
  if (ownSlave >= 0) close(ownSlave);
  if (options.link[0] != '\0') RemoveLink(options.link, linePath);
  if (options.verbose) fprintf(stderr, "dcfsim: ended with status %d\n", status);
  return status;
}
