// The port's record, the same on every platform; the calls that use it are
// in port_posix.cpp and port_win32.cpp.
#include "link/port.h"

PortState Port = {InvalidPortHandle, 0};

void ResetPort(void) {
  Port.handle = InvalidPortHandle;
  Port.lastByteMs = 0;
}

int PulseLineIndex(const char* name) {
  static const char names[4][4] = {"DCD", "CTS", "DSR", "RI"};
  for (int i = 0; i < 4; ++i) {
    int j = 0;
    while (names[i][j] != '\0' && (name[j] & ~0x20) == names[i][j]) ++j;
    if (names[i][j] == '\0' && name[j] == '\0') return i;
  }
  return -1;
}
