// Ctrl-C: how the request reaches the main flow, once per platform.
#ifndef DCFSYNC_DRIVER_INTERRUPT_H
#define DCFSYNC_DRIVER_INTERRUPT_H

// Arranges for Ctrl-C to record the request and wake the main flow
// (RequestWake, os/wake.h), and nothing else: the flow ends the run itself.
//   POSIX: a SIGINT handler that runs RequestWake (async-signal-safe: a flag
//   and a byte into the self-pipe); system calls it interrupts are restarted
//   or looked at again by their loops.
//   Windows: the C runtime runs the SIGINT handler on the console's own
//   control thread; it runs RequestWake (a flag and an event) and returns.
// Call once, from the main thread, before anything waits. Returns 0, or the
// error number when it could not be arranged (Ctrl-C then ends the program
// in the system's default way).
int InstallInterruptHandler(void);

#endif
