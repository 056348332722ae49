// The serial port of the receiver module: one port (Port), main flow only.
// Once Ctrl-C has been requested (os/wake.h) a read returns with what it has
// and a write gives up (EINTR): on POSIX at once, on Windows when the read's
// time-outs end it. While the port is not open SetRts and SetDtr do nothing,
// ReadPort returns 0, WriteCommand and ClosePort return EBADF
// (ERROR_INVALID_HANDLE). Every call that can fail returns 0 or an error
// number (errno, GetLastError, or the one its contract names) and leaves the
// run's status alone.
#ifndef DCFSYNC_LINK_PORT_H
#define DCFSYNC_LINK_PORT_H

#include <stdint.h>

// A platform handle widened to an integer: the Windows HANDLE or the POSIX
// file descriptor. InvalidPortHandle is INVALID_HANDLE_VALUE and -1 alike.
typedef intptr_t PortHandleValue;
const PortHandleValue InvalidPortHandle = -1;

// The port's state, owned by the link: the open port (or InvalidPortHandle)
// and when the last byte came (PortLastByteMs). Main flow only.
struct PortState {
  PortHandleValue handle;
  int64_t lastByteMs;
};
extern PortState Port;

// Forgets the port without closing it and clears its time: the state at
// start.
void ResetPort(void);

enum {
  PortReadScratchSize = 1000,
  PortReadMaximum = 999,       // bytes one read asks for at most
  PortReadIntervalMs = 100,    // silence after a byte that ends a read
  PortReadPerByteMs = 1,       // total read time per requested byte
  CommandSize = 2
};

// Line settings as the driver passes them: parity 0 is none, stop bits 0 is
// one stop bit (the Windows DCB values).
enum { NoParity = 0, OneStopBit = 0 };

// Opens the port named Settings.port for reading and writing, exclusively: a
// port that another process holds cannot be opened. Stores the handle in
// Port.handle (InvalidPortHandle when the port cannot be opened) and returns
// 0, or the error number of the failed open or lock. Logs nothing.
int OpenPort(void);

// Sets baud rate, byte size, parity and stop bits and the read time-outs
// (100 ms between bytes, 1 ms per requested byte). Every other line setting
// stays as the port had it. On failure logs the system's text for the error
// of the failing call (one line) and returns that error number (EINVAL for a
// rate, size, parity or stop-bit setting the platform has not); returns 0 on
// success.
int ConfigurePort(int32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits);

// Raise (on non-zero) or lower (on zero) the RTS / DTR line. Failures are
// ignored: some ports have no modem lines at all.
void SetRts(int on);
void SetDtr(int on);

// Reads what arrives into destination + offset, followed by a zero byte, and
// returns the number of bytes read (0 on a silent line or a failure, the
// destination then untouched). size is the whole size of destination: the
// request is capped to the room left, so nothing is ever stored at or past
// destination[size]. A read returns when 999 bytes (or the room left) have
// arrived, when 100 ms pass after a byte without a further one, or when the
// total read time of 1 ms per requested byte has passed (about one second
// on a silent line).
int ReadPort(unsigned char* destination, int offset, int size);

// Writes the 2 command bytes; returns 0 when both went out, else the error
// number of the failed write (ETIMEDOUT on POSIX when the line took them not
// within a second; ERROR_WRITE_FAULT on Windows when fewer went out).
int WriteCommand(const unsigned char* command);

// When the last byte of the latest read that brought any bytes arrived, on
// MonotonicMs (os/monotonic.h); 0 before the first such read. POSIX: the moment
// the read took it from the line. Windows: a read that brought fewer bytes
// than it asked for ended on the 100 ms of silence after its last byte, which
// is then taken to have come that long before the read returned; a read that
// brought all it asked for returned with its last byte. Main path only.
int64_t PortLastByteMs(void);

// The status lines a pulse receiver can drive, and the index of a name
// (DCD, CTS, DSR, RI, in any case); -1 for another name.
enum { PulseLineDcd, PulseLineCts, PulseLineDsr, PulseLineRi };
int PulseLineIndex(const char* name);

// Waits up to timeoutMs for the status line (a PulseLine index) to change
// and time-stamps the change when it comes: *monoMs (MonotonicMs), *wallUs
// (the PC clock, µs since 1970, UTC) and *level (the line after it, 0/1).
// Returns 0, with *level -1 when the time ran out or Ctrl-C came first
// (Ctrl-C ends the wait at once; on POSIX one that comes just before the wait
// begins ends it at its time-out), else the error number of a failed call
// (a port without status lines). Main flow only. POSIX: TIOCMIWAIT, ended by
// a one-shot timer's signal, then TIOCMGET; Windows: an overlapped
// WaitCommEvent (the port opened overlapped while Settings.Receiver is 1),
// then GetCommModemStatus.
int WaitLineChange(int32_t line, int32_t timeoutMs, int64_t* monoMs, int64_t* wallUs,
                   int32_t* level);

// Closes the port. Returns 0 when it was closed, else the error number of the
// failed close, or the bad-handle error number when the port was not open.
// From then on the port counts as not open.
int ClosePort(void);

#endif
