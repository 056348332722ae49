// Serial port access on Windows: the serial communications calls, paced by the port's read
// time-outs.
#include <string.h>

#include "config/settings.h"
#include "link/port.h"
#include "log/log.h"
#include "os/monotonic.h"
#include "os/oscalls_win32.h"
#include "os/wake.h"

static HANDLE OpenHandle(void) {
  return Port.handle == InvalidPortHandle ? NULL : (HANDLE)Port.handle;
}

static int Failure(void) {
  DWORD code = Os.GetLastError();
  return code != 0 ? (int)code : ERROR_GEN_FAILURE;
}

int OpenPort(void) {
  // Share mode 0: exclusive. Overlapped for a pulse receiver, whose line waits Ctrl-C ends.
  HANDLE handle = Os.CreateFileA(Settings.port, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                 OPEN_EXISTING, Settings.Receiver == 1 ? FILE_FLAG_OVERLAPPED : 0,
                                 NULL);
  Port.handle = (PortHandleValue)handle;
  return handle == INVALID_HANDLE_VALUE ? Failure() : 0;
}

static int ConfigureFailed(void) {
  DWORD code = Os.GetLastError();
  LogSystemError(code);
  return code != 0 ? (int)code : ERROR_GEN_FAILURE;
}

int ConfigurePort(int32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
  HANDLE handle = OpenHandle();
  if (handle == NULL) {
    LogSystemError(ERROR_INVALID_HANDLE);
    return ERROR_INVALID_HANDLE;
  }
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  // What the port reports stays, flow control included; a failed query leaves zeros.
  Os.GetCommState(handle, &dcb);
  dcb.BaudRate = (DWORD)baud;
  dcb.ByteSize = byteSize;
  dcb.Parity = parity;
  dcb.StopBits = stopBits;
  if (!Os.SetCommState(handle, &dcb)) return ConfigureFailed();
  COMMTIMEOUTS timeouts;
  memset(&timeouts, 0, sizeof timeouts);
  if (!Os.GetCommTimeouts(handle, &timeouts)) return ConfigureFailed();
  timeouts.ReadIntervalTimeout = PortReadIntervalMs;
  timeouts.ReadTotalTimeoutMultiplier = PortReadPerByteMs;
  if (!Os.SetCommTimeouts(handle, &timeouts)) return ConfigureFailed();
  return 0;
}

static void EscapeLine(DWORD function) {
  HANDLE handle = OpenHandle();
  if (handle != NULL) Os.EscapeCommFunction(handle, function);
}

void SetRts(int on) { EscapeLine(on ? SETRTS : CLRRTS); }
void SetDtr(int on) { EscapeLine(on ? SETDTR : CLRDTR); }

int ReadPort(unsigned char* destination, int offset, int size) {
  HANDLE handle = OpenHandle();
  if (handle == NULL || offset < 0 || size - offset <= 1 || WakeRequested()) return 0;
  DWORD request = (DWORD)(size - offset - 1);
  if (request > PortReadMaximum) request = PortReadMaximum;
  unsigned char scratch[PortReadScratchSize];
  memset(scratch, 0, sizeof scratch);
  DWORD count = 0;
  if (!Os.ReadFile(handle, scratch, request, &count, NULL)) return 0;
  int64_t returned = MonotonicMs();
  if (count == 0) return 0;  // a silent line leaves the destination as it was
  if (count > request) count = request;
  // A short read ended on the 100 ms of silence after its last byte.
  Port.lastByteMs = count < request ? returned - PortReadIntervalMs : returned;
  memcpy(destination + offset, scratch, count);
  destination[offset + (int)count] = 0;
  return (int)count;
}

int WriteCommand(const unsigned char* command) {
  HANDLE handle = OpenHandle();
  if (handle == NULL) return ERROR_INVALID_HANDLE;
  if (WakeRequested()) return ERROR_OPERATION_ABORTED;
  DWORD written = 0;
  if (!Os.WriteFile(handle, command, CommandSize, &written, NULL)) return Failure();
  return written == CommandSize ? 0 : ERROR_WRITE_FAULT;
}

int ClosePort(void) {
  PortHandleValue value = Port.handle;
  Port.handle = InvalidPortHandle;
  if (value == InvalidPortHandle) return ERROR_INVALID_HANDLE;
  return Os.CloseHandle((HANDLE)value) ? 0 : Failure();
}

int WaitLineChange(int32_t line, int32_t timeoutMs, int64_t* monoMs, int64_t* wallUs,
                   int32_t* level) {
  static const DWORD events[4] = {EV_RLSD, EV_CTS, EV_DSR, EV_RING};
  static const DWORD states[4] = {MS_RLSD_ON, MS_CTS_ON, MS_DSR_ON, MS_RING_ON};
  *level = -1;
  HANDLE handle = OpenHandle();
  if (handle == NULL) return ERROR_INVALID_HANDLE;
  int index = line >= 0 && line < 4 ? line : 0;
  DWORD before = 0, after = 0, mask = 0, moved = 0;
  if (!Os.GetCommModemStatus(handle, &before) || !Os.SetCommMask(handle, events[index])) {
    return Failure();
  }
  OVERLAPPED wait;
  memset(&wait, 0, sizeof wait);
  wait.hEvent = Os.CreateEventA(NULL, TRUE, FALSE, NULL);
  if (wait.hEvent == NULL) return Failure();
  int code = 0;
  if (!Os.WaitCommEvent(handle, &mask, &wait)) {
    code = Failure();
    if (code == ERROR_IO_PENDING) {
      HANDLE ends[2] = {wait.hEvent, (HANDLE)WakeHandle()};
      DWORD which = WakeRequested() ? WAIT_TIMEOUT
                    : Os.WaitForMultipleObjects(ends[1] != NULL ? 2 : 1, ends, FALSE,
                                                (DWORD)timeoutMs);
      if (which != WAIT_OBJECT_0) {  // the wait ended: by the new mask, else cancelled
        Os.SetCommMask(handle, 0);
        Os.CancelIoEx(handle, &wait);
      }
      code = Os.GetOverlappedResult(handle, &wait, &moved, TRUE) && which == WAIT_OBJECT_0
                 ? 0 : ERROR_OPERATION_ABORTED;
    }
  }
  FILETIME now;  // the change's time, first of all
  Os.GetSystemTimePreciseAsFileTime(&now);
  int64_t mono = MonotonicMs();
  Os.CloseHandle(wait.hEvent);
  if (code != 0 && code != ERROR_OPERATION_ABORTED) return code;
  if (!Os.GetCommModemStatus(handle, &after)) return Failure();
  if (((before ^ after) & states[index]) == 0) return 0;
  int64_t ticks = ((int64_t)now.dwHighDateTime << 32) | now.dwLowDateTime;
  *monoMs = mono;
  *wallUs = (ticks - 116444736000000000LL) / 10;  // 100 ns since 1601
  *level = (after & states[index]) != 0;
  return 0;
}
