// Fuzzes the command exchange and the frame dump over the real POSIX port
// code, with the port's system calls replaced by a module that plays back
// the fuzzer's bytes: chunks of arbitrary bytes after arbitrary pauses,
// interrupted and failing reads, a far end that hangs up, writes that are
// short, interrupted or refused. The port's clock is simulated as well, so
// a pause of seconds costs no time.
//
// Checked besides what the sanitizers see: the answer holds exactly the
// bytes the module sent after the command went out, in order, never more
// than the buffer takes and always followed by a zero byte; nothing came
// back when the command could not be written; the exchange ends within its
// silence limit (and a read's length) of the last byte; the dump shows
// every byte or is cut after a whole piece, within the dump line.
#include <errno.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzzsupport.h"
#include "link/exchange.h"
#include "link/port.h"
#include "log/log.h"
#include "os/oscalls_posix.h"

namespace {

// What the module does next on the line.
struct Event {
  enum Kind { Bytes, ReadInterrupted, ReadFails, HangUp, PollInterrupted } kind;
  int64_t pauseMs;  // silence before it
  std::string bytes;
};

struct Module {
  std::vector<Event> events;
  size_t next = 0;
  size_t taken = 0;  // bytes of events[next] already read
  int64_t nowMs = 1000000;
  bool commandWritten = false;
  std::string delivered;   // bytes read after the command went out
  int64_t lastDeliveryMs = 0;
  std::vector<int> writeResults;  // per write call: 2 all, 1 one byte, -EINTR, -EAGAIN, -EIO
  size_t writes = 0;
  bool endsInHangUp = false;
};
Module M;

// The exchange's buffer, as the driver has its own.
unsigned char Answer[AnswerBufferSize];

int FakeClock(clockid_t, struct timespec* now) {
  now->tv_sec = (time_t)(M.nowMs / 1000);
  now->tv_nsec = (long)(M.nowMs % 1000) * 1000000L;
  return 0;
}

int FakePoll(struct pollfd* fds, nfds_t count, int timeoutMs) {
  if (timeoutMs < 0) abort();  // the port never waits without a limit
  if (count == 0 || fds == nullptr) {
    M.nowMs += timeoutMs;
    return 0;
  }
  fds[0].revents = 0;
  if (fds[0].events & POLLOUT) {
    fds[0].revents = POLLOUT;
    return 1;
  }
  Event* e = M.next < M.events.size() ? &M.events[M.next] : nullptr;
  if (e == nullptr) {
    if (M.endsInHangUp) {
      fds[0].revents = POLLHUP;
      return 1;
    }
    M.nowMs += timeoutMs;
    return 0;
  }
  if (e->pauseMs > timeoutMs) {
    e->pauseMs -= timeoutMs;
    M.nowMs += timeoutMs;
    return 0;
  }
  M.nowMs += e->pauseMs;
  e->pauseMs = 0;
  if (e->kind == Event::PollInterrupted) {
    ++M.next;
    errno = EINTR;
    return -1;
  }
  fds[0].revents = e->kind == Event::HangUp ? POLLHUP : POLLIN;
  return 1;
}

ssize_t FakeRead(int, void* buffer, size_t size) {
  Event* e = M.next < M.events.size() ? &M.events[M.next] : nullptr;
  if (e == nullptr || e->pauseMs > 0) {
    errno = EAGAIN;
    return -1;
  }
  switch (e->kind) {
    case Event::ReadInterrupted: ++M.next; errno = EINTR; return -1;
    case Event::ReadFails: ++M.next; errno = EIO; return -1;
    case Event::HangUp: return 0;
    case Event::PollInterrupted: errno = EAGAIN; return -1;
    case Event::Bytes: break;
  }
  size_t n = e->bytes.size() - M.taken;
  if (n > size) n = size;
  memcpy(buffer, e->bytes.data() + M.taken, n);
  if (M.commandWritten) {
    M.delivered.append(e->bytes, M.taken, n);
    M.lastDeliveryMs = M.nowMs;
  }
  M.taken += n;
  if (M.taken == e->bytes.size()) {
    ++M.next;
    M.taken = 0;
  }
  if (n == 0) {
    errno = EAGAIN;
    return -1;
  }
  return (ssize_t)n;
}

ssize_t FakeWrite(int, const void*, size_t size) {
  int result = M.writes < M.writeResults.size() ? M.writeResults[M.writes] : 2;
  ++M.writes;
  M.nowMs += 1;
  if (result < 0) {
    errno = -result;
    return -1;
  }
  if ((size_t)result > size) result = (int)size;
  if (result == (int)size) M.commandWritten = true;  // the last byte of the command
  return result;
}

// The dump's rendering of one byte.
std::string Piece(unsigned char byte, int mode) {
  char text[8];
  if (mode == DumpText && byte == 0x0D) return "<CR>";
  if (mode == DumpText && byte == 0x0A) return "<LF>";
  if (mode == DumpText) return byte == 0 ? "" : std::string(1, (char)byte);
  snprintf(text, sizeof text, "%.2X ", byte);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzQuietProgram();
  Os.Clock = FakeClock;
  Os.Poll = FakePoll;
  Os.Read = FakeRead;
  Os.Write = FakeWrite;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  M = Module();
  const int expected = input.ConsumeIntegral<int32_t>();
  const int limitSeconds = input.ConsumeIntegralInRange<int>(0, 4);
  const int mode = input.ConsumeIntegralInRange<int>(-1, 2);
  const int commandIndex = input.ConsumeIntegralInRange<int>(0, 2);
  M.endsInHangUp = input.ConsumeBool();
  for (int writes = input.ConsumeIntegralInRange<int>(0, 4); writes > 0; --writes) {
    static const int results[] = {2, 1, 0, -EINTR, -EAGAIN, -EIO};
    M.writeResults.push_back(results[input.ConsumeIntegralInRange<int>(0, 5)]);
  }
  while (input.remaining_bytes() > 0 && M.events.size() < 64) {
    Event e;
    e.kind = (Event::Kind)input.ConsumeIntegralInRange<int>(0, 4);
    if (e.kind != Event::Bytes && input.ConsumeBool()) e.kind = Event::Bytes;  // mostly data
    e.pauseMs = input.ConsumeIntegralInRange<int64_t>(0, 3000);
    if (e.kind == Event::Bytes) e.bytes = input.ConsumeRandomLengthString(1500);
    M.events.push_back(e);
  }

  static const unsigned char* const commands[] = {IdentCommand, RawTelegramCommand,
                                                  DecodedTimeCommand};
  Port.handle = 1000;  // the fake calls take any descriptor
  memset(Answer, 0x55, sizeof Answer);
  memcpy(Answer, commands[commandIndex], CommandSize);
  const int count = ExchangeCommand(Answer, limitSeconds, expected);
  const int64_t endedMs = M.nowMs;
  Port.handle = InvalidPortHandle;

  FUZZ_CHECK(count >= 0 && count <= AnswerBufferSize - 1);
  if (!M.commandWritten) FUZZ_CHECK(count == 0);
  FUZZ_CHECK((size_t)count == M.delivered.size());
  if (count > 0) {
    FUZZ_CHECK(memcmp(Answer, M.delivered.data(), (size_t)count) == 0);
    FUZZ_CHECK(Answer[count] == 0);
    // Silence ends the exchange: no later than the limit after the last
    // byte, plus the one read that was under way (about a second at most).
    FUZZ_CHECK(endedMs - M.lastDeliveryMs <= (int64_t)(limitSeconds + 1) * 1000 + PortReadMaximum);
  }

  DumpFrame(Answer, count, mode);
  char line[DumpLineSize];
  const size_t shown = FormatDump(Answer, count, mode, line);
  std::string full;
  for (int i = 0; i < count; ++i) full += Piece(Answer[i], mode);
  FUZZ_CHECK(shown == strlen(line));
  FUZZ_CHECK(shown < (size_t)DumpLineSize);
  FUZZ_CHECK(full.compare(0, shown, line) == 0);
  if (shown < full.size()) {
    // Cut only where the next piece would not have fitted.
    FUZZ_CHECK(shown + 4 >= (size_t)DumpLineSize - 1);
  }
  return 0;
}
