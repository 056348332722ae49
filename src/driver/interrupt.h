// The requests to end a run (Ctrl-C and the like), one file per platform.
#ifndef DCFSYNC_DRIVER_INTERRUPT_H
#define DCFSYNC_DRIVER_INTERRUPT_H

// Makes every request to end the run record it and wake the main flow
// (RequestWake), which then ends the run itself. POSIX: SIGINT, SIGTERM,
// SIGHUP, SIGQUIT. Windows: Ctrl-C, and the console's close, logoff and
// shutdown events, whose handler waits for the flow's end. Call once from
// the main thread before anything waits. Returns 0 or an error number.
int InstallInterruptHandler(void);

#endif
