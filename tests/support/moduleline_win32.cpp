// Module side on Windows: the port under test is COM1, the module's end is
// COM2; the test runner maps both to the two ends of a pseudo-terminal pair.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "config/settings.h"
#include "support/moduleline.h"

static HANDLE module = INVALID_HANDLE_VALUE;

bool ModuleLineOpen() {
  snprintf(Settings.port, PortNameSize, "COM1");
  module = CreateFileA("COM2", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (module == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "cannot open COM2 (error %lu): run through the serial test runner\n",
            (unsigned long)GetLastError());
    return false;
  }
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  GetCommState(module, &dcb);
  dcb.BaudRate = 19200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  SetCommState(module, &dcb);
  return true;
}

void ModuleLineClose() {
  if (module != INVALID_HANDLE_VALUE) CloseHandle(module);
  module = INVALID_HANDLE_VALUE;
}

bool ModuleWrite(const void* bytes, size_t count) {
  DWORD written = 0;
  return WriteFile(module, bytes, (DWORD)count, &written, NULL) && written == count;
}

// What has arrived so far, without waiting.
static int ReadPending(unsigned char* buffer, int size) {
  COMMTIMEOUTS timeouts;
  memset(&timeouts, 0, sizeof timeouts);
  timeouts.ReadIntervalTimeout = MAXDWORD;
  SetCommTimeouts(module, &timeouts);
  DWORD got = 0;
  if (!ReadFile(module, buffer, (DWORD)size, &got, NULL)) return 0;
  return (int)got;
}

int ModuleRead(unsigned char* buffer, int size, int timeoutMs) {
  int count = 0;
  DWORD start = GetTickCount();
  DWORD last = start;
  while (count < size) {
    int got = ReadPending(buffer + count, size - count);
    DWORD now = GetTickCount();
    if (got > 0) {
      count += got;
      last = now;
      continue;
    }
    if (count == 0 ? now - start >= (DWORD)timeoutMs : now - last >= 50) break;
    Sleep(5);
  }
  return count;
}

void ModuleDiscard() {
  unsigned char scratch[4096];
  while (ModuleRead(scratch, sizeof scratch, 0) > 0) {
  }
}
