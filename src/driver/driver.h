// The program's main flow: start-up, identification of the receiver, the
// polling loop with its countdown, shutdown, and the end by Ctrl-C. Its
// status (RunStatus, config/status.h) becomes the exit status.
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

// Runs the whole program: uses only its own path (argv[0] where the system
// cannot tell it) and returns the exit status. Polls until Ctrl-C while
// TimerEnable is on. Ctrl-C is carried out by this flow itself, at its next
// step (every wait returns early): "\nCtrl-C\n" last on the console, RTS and
// DTR off, the port closed (when open), and status 3 returned a second after
// the request.
int RunProgram(int argc, char** argv);

// Makes sure standard input, output and error are usable before anything
// else opens a file. POSIX: each of the descriptors 0, 1 and 2 that is not
// open is opened on /dev/null, so that neither the port nor a file can take
// its number and receive the console's text. Windows: each standard handle
// that is missing is opened on NUL, so that console output goes nowhere
// instead of failing. POSIX also ignores SIGPIPE, so that a console write to
// a pipe whose reader has gone fails as any other console write instead of
// ending the program. Call first thing in main. One implementation per
// platform.
void OpenStandardStreams(void);

#endif
