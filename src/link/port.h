// The receiver module's serial port (Port), main flow only. Calls that can fail return 0 or an
// error number (EBADF, ERROR_INVALID_HANDLE while not open) and leave the run's status alone.
// Once Ctrl-C has come (os/wake.h) a read returns what it has and a write gives up.
#ifndef DCFSYNC_LINK_PORT_H
#define DCFSYNC_LINK_PORT_H

#include <stdint.h>

// The Windows HANDLE or the POSIX descriptor; InvalidPortHandle is -1 for both.
typedef intptr_t PortHandleValue;
const PortHandleValue InvalidPortHandle = -1;

struct PortState {
  PortHandleValue handle;  // InvalidPortHandle while not open
  int64_t lastByteMs;      // PortLastByteMs
};
extern PortState Port;

enum {
  PortReadScratchSize = 1000,
  PortReadMaximum = 999,     // bytes one read asks for at most
  PortReadIntervalMs = 100,  // silence after a byte that ends a read
  PortReadPerByteMs = 1,     // total read time per requested byte
  CommandSize = 2
};
enum { NoParity = 0, OneStopBit = 0 };  // the Windows DCB values

// Opens Settings.port exclusively into Port.handle (InvalidPortHandle on failure).
int OpenPort(void);

// Sets rate, byte size, parity, stop bits and the read time-outs; other settings stay. Logs
// the system's text for a failure (EINVAL for a setting the platform has not).
int ConfigurePort(int32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits);

// Raise (non-zero) or lower the RTS / DTR line; failures are ignored (no modem lines).
void SetRts(int on);
void SetDtr(int on);

// Reads into destination + offset (destination has size bytes) and adds a zero byte; returns
// the count, 0 on silence or failure (destination untouched). A read ends after
// PortReadMaximum bytes or the room left, PortReadIntervalMs of silence after a byte, or
// PortReadPerByteMs per requested byte in all.
int ReadPort(unsigned char* destination, int offset, int size);

// Writes the 2 command bytes; a line that takes them not within a second fails (POSIX).
int WriteCommand(const unsigned char* command);

// MonotonicMs when the last byte of the latest read with bytes came, 0 before. Windows dates
// a short read's last byte PortReadIntervalMs before it returned.
int64_t PortLastByteMs(void);

// The status lines a pulse receiver can drive; the index of a name (any case), else -1.
enum { PulseLineDcd, PulseLineCts, PulseLineDsr, PulseLineRi };
int PulseLineIndex(const char* name);

// Waits up to timeoutMs for the status line to change: stamps it in *monoMs (MonotonicMs) and
// *wallUs (PC clock, µs since 1970 UTC) and sets *level to the line after it; *level -1 when
// the time ran out or Ctrl-C came (on POSIX one just before the wait ends it at the time-out).
// Windows needs the port opened overlapped (Settings.Receiver 1).
int WaitLineChange(int32_t line, int32_t timeoutMs, int64_t* monoMs, int64_t* wallUs,
                   int32_t* level);

// Closes the port; from then on it counts as not open.
int ClosePort(void);

#endif
