// The end of a run on Windows. Ctrl-C: the C runtime delivers SIGINT on the
// console's control thread, where the handler records the request and sets
// the event the flow's waits watch. The console's close, logoff and shutdown
// events: the system ends the process once their handler returns, so it
// records the request and waits; the flow's end (slew ended, port closed)
// ends the process meanwhile.
#include <errno.h>
#include <signal.h>
#include <windows.h>

#include "driver/interrupt.h"
#include "os/oscalls_win32.h"
#include "os/wake.h"

static void OnInterrupt(int) {
  RequestWake();
  // The runtime puts SIGINT back to its default before calling the handler.
  signal(SIGINT, OnInterrupt);
}

static BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_CLOSE_EVENT && event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT) {
    return FALSE;  // Ctrl-C and Ctrl-Break: the runtime's
  }
  RequestWake();
  Sleep(INFINITE);
  return TRUE;
}

int InstallInterruptHandler(void) {
  int failed = StartWake();
  if (failed != 0) return failed;
  if (signal(SIGINT, OnInterrupt) == SIG_ERR) return errno != 0 ? errno : EINVAL;
  return Os.SetConsoleCtrlHandler(OnConsoleEvent, TRUE) ? 0 : (int)Os.GetLastError();
}
