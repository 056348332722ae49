// The port's record, the same on every platform; the calls that use it are
// in port_posix.cpp and port_win32.cpp.
#include "link/port.h"

PortState Port = {InvalidPortHandle, 0};

void ResetPort(void) {
  Port.handle = InvalidPortHandle;
  Port.lastByteMs = 0;
}
