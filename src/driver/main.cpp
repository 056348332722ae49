// dcfsync: sets the PC clock from a DCF77 receiver module on a serial port.
#include "driver/driver.h"

int main(int argc, char** argv) {
  OpenStandardStreams();  // before anything opens a file
  return RunProgram(argc, argv);
}
