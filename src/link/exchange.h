// The command exchange with the receiver module and the dump of its answers. A command is a
// code and a zero byte; the answer is a frame recognised by its length alone.
#ifndef DCFSYNC_LINK_EXCHANGE_H
#define DCFSYNC_LINK_EXCHANGE_H

enum {
  AnswerBufferSize = 1000,
  DumpLineSize = 1024,
  IdentFrameSize = 12,
  AnswerTimeLimit = 2,  // seconds of silence that end an answer
  DumpText = 1,         // DumpFrame mode for the identification answer
  DumpHex = 0
};

extern const unsigned char IdentCommand[2];        // answer: 12-byte identification
extern const unsigned char RawTelegramCommand[2];  // answer: 26-byte raw telegram
extern const unsigned char DecodedTimeCommand[2];  // answer: 10-byte decoded time

// Drops stale input, writes the command at the start of buffer (AnswerBufferSize bytes),
// clears its first 4 bytes and gathers the answer there until expected bytes came,
// limitSeconds passed without a byte, or Ctrl-C came. Returns the count (may exceed
// expected); 0 when the command did not go out.
int ExchangeCommand(unsigned char* buffer, int limitSeconds, int expected);

// Formats count bytes into line (DumpLineSize bytes), cut after the last piece that fits,
// and returns its length. DumpText: CR as "<CR>", LF as "<LF>", a zero byte as nothing,
// others as they are; else upper-case hex pairs each followed by a blank. DumpFrame logs it.
size_t FormatDump(const unsigned char* bytes, int count, int mode, char* line);
void DumpFrame(const unsigned char* bytes, int count, int mode);

#endif
