// The port's record, the same on every platform; its calls are in port_posix/port_win32.cpp.
#include "link/port.h"

PortState Port = {InvalidPortHandle, 0};

int64_t PortLastByteMs(void) { return Port.lastByteMs; }

int PulseLineIndex(const char* name) {
  static const char names[4][4] = {"DCD", "CTS", "DSR", "RI"};
  for (int i = 0; i < 4; ++i) {
    int j = 0;
    while (names[i][j] != '\0' && (name[j] & ~0x20) == names[i][j]) ++j;
    if (names[i][j] == '\0' && name[j] == '\0') return i;
  }
  return -1;
}
