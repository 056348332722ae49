// dcfsync: sets the PC clock from a DCF77 receiver module on a serial port.
#include "driver/driver.h"

int main(int argc, char** argv) {
  // Before anything opens a file: the port must never get the console's
  // descriptor.
  OpenStandardStreams();
  return RunProgram(argc, argv);
}
