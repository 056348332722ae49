// The requests to end a run (Ctrl-C and the like): how they reach the main
// flow, once per platform.
#ifndef DCFSYNC_DRIVER_INTERRUPT_H
#define DCFSYNC_DRIVER_INTERRUPT_H

// Arranges for every request to end the run to record it and wake the main
// flow (RequestWake, os/wake.h), and nothing else: the flow ends the run
// itself, as for Ctrl-C.
//   POSIX: SIGINT, SIGTERM, SIGHUP and SIGQUIT, whose handler is
//   async-signal-safe; the calls they interrupt are restarted or looked at
//   again by their loops.
//   Windows: Ctrl-C through the C runtime's SIGINT handler, and the
//   console's close, logoff and shutdown events through a console control
//   handler, which waits for the flow's end before the system ends the
//   process.
// Call once, from the main thread, before anything waits. Returns 0, or the
// error number (the requests then end the program in the system's way).
int InstallInterruptHandler(void);

#endif
