// The command exchange and the frame dump.
#include <stdio.h>
#include <string.h>

#include "link/exchange.h"
#include "link/port.h"
#include "log/log.h"
#include "os/monotonic.h"
#include "os/wake.h"

const unsigned char IdentCommand[2] = {0x01, 0x00};
const unsigned char RawTelegramCommand[2] = {0x03, 0x00};
const unsigned char DecodedTimeCommand[2] = {0x04, 0x00};

// Whole seconds of the monotonic clock, so that a PC clock set meanwhile cannot change a wait.
static long long NowSeconds(void) { return (long long)(MonotonicMs() / 1000); }

int ExchangeCommand(unsigned char* buffer, int limitSeconds, int expected) {
  unsigned char flush[PortReadScratchSize];
  ReadPort(flush, 0, (int)sizeof flush);
  if (WakeRequested() || WriteCommand(buffer) != 0) return 0;
  memset(buffer, 0, 4);
  int total = 0;
  long long deadline = NowSeconds() + limitSeconds;
  for (;;) {
    if (NowSeconds() >= deadline || WakeRequested()) return total;
    if (total >= expected) return total;
    int got = ReadPort(buffer, total, AnswerBufferSize);
    total += got;
    if (got > 0) deadline = NowSeconds() + limitSeconds;
    // A full buffer takes no more; the rest is left for the next exchange's flush.
    if (total >= AnswerBufferSize - 1) return total;
  }
}

size_t FormatDump(const unsigned char* bytes, int count, int mode, char* line) {
  size_t used = 0;
  line[0] = '\0';
  for (int i = 0; i < count; ++i) {
    char piece[8];
    if (mode == DumpText && (bytes[i] == 0x0D || bytes[i] == 0x0A)) {
      snprintf(piece, sizeof piece, "%s", bytes[i] == 0x0D ? "<CR>" : "<LF>");
    } else if (mode == DumpText) {
      piece[0] = (char)bytes[i];  // a zero byte leaves no trace
      piece[1] = '\0';
    } else {
      snprintf(piece, sizeof piece, "%.2X ", bytes[i]);
    }
    size_t length = strlen(piece);
    if (used + length >= (size_t)DumpLineSize) break;
    memcpy(line + used, piece, length + 1);
    used += length;
  }
  return used;
}

void DumpFrame(const unsigned char* bytes, int count, int mode) {
  char line[DumpLineSize];
  FormatDump(bytes, count, mode, line);
  LogText(line);
}
