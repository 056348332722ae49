// The command exchange with the receiver module and the dump of its answers.
//
// A command is 2 bytes, the code and a zero byte; the module answers with a
// frame of fixed length, recognised by its length alone. An exchange
// discards stale input, sends the command and gathers the answer until the
// expected count has arrived or the module has been silent for the limit, or
// Ctrl-C has been requested (os/wake.h), which ends it at once.
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

// Flushes pending input with one read, writes the 2-byte command at the
// start of buffer (AnswerBufferSize bytes: the driver's AnswerBuffer, which
// carries each command out and the answer back) and returns CollectAnswer's count;
// 0 when the command could not be written in full.
int ExchangeCommand(unsigned char* buffer, int limitSeconds, int expected);

// Clears the first 4 bytes of buffer (AnswerBufferSize bytes), then appends
// reads until at least expected bytes are there or no byte has come for
// limitSeconds whole seconds. Returns the count gathered, which may exceed
// expected when the last read brought more; nothing is stored past the
// buffer, however much the module sends.
int CollectAnswer(unsigned char* buffer, int limitSeconds, int expected);

// Formats the first count bytes into line (DumpLineSize bytes, terminated):
// mode DumpText shows them as text (carriage return as "<CR>", line feed as
// "<LF>", a zero byte as nothing, every other byte as it is), any other mode
// as upper-case hexadecimal pairs each followed by a blank. A dump longer
// than the line is cut after the last piece that fits. Returns its length.
size_t FormatDump(const unsigned char* bytes, int count, int mode, char* line);

// Logs FormatDump's line as one message (LogLine shows other control bytes
// and bytes from 0x7F on as \xNN).
void DumpFrame(const unsigned char* bytes, int count, int mode);

#endif
