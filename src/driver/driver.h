// The program's main flow: start-up, identification of the receiver, the
// polling loop with its countdown, shutdown, and the end by Ctrl-C.
#ifndef DCFSYNC_DRIVER_DRIVER_H
#define DCFSYNC_DRIVER_DRIVER_H

enum {
  StatusOpenFailed = 254,
  StatusConfigureFailed = 253,
  StatusNoIdentification = 250,
  StatusInterrupted = 3,
  FinalWaitSeconds = 5,
  InterruptEndMs = 1000  // from Ctrl-C to the end of the process
};

// Runs the whole program (argv[0]: its path where the system cannot tell
// it) and returns the exit status. Ctrl-C is carried out by this flow at its
// next step: "\nCtrl-C\n" last on the console, RTS and DTR off, the port
// closed, status 3 a second after the request.
int RunProgram(int argc, char** argv);

// First thing in main: each missing standard stream opened on the null
// device, so neither the port nor a file takes its number; POSIX also
// ignores SIGPIPE, so a console write to a gone reader just fails.
void OpenStandardStreams(void);

// Makes every request to end the run record it and wake the main flow
// (RequestWake), which then ends the run itself. POSIX: SIGINT, SIGTERM,
// SIGHUP, SIGQUIT. Windows: Ctrl-C, and the console's close, logoff and
// shutdown events, whose handler waits for the flow's end. Call once from
// the main thread before anything waits. Returns 0 or an error number.
int InstallInterruptHandler(void);

#endif
