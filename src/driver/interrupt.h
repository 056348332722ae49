// Ctrl-C: how the interrupt handler comes to run, once per platform.
#ifndef DCFSYNC_DRIVER_INTERRUPT_H
#define DCFSYNC_DRIVER_INTERRUPT_H

// Arranges for handler(SIGINT) to run on a thread other than the main flow
// when the user presses Ctrl-C, so the handler may write to the console,
// close the port, sleep and end the process.
//   Windows: the C runtime runs SIGINT handlers on the console's own thread.
//   POSIX: SIGINT is blocked in the calling thread (and so in every thread
//   started after it) and a thread of its own waits for it with sigwait.
// Call once, from the main thread, before any other thread is started.
// Returns 0, or the error number when it could not be arranged (Ctrl-C then
// ends the program in the system's default way).
int InstallInterruptHandler(void (*handler)(int));

#endif
