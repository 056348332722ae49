// The process on Windows: its standard streams, and the requests that end a
// run. The system ends the process once a console close, logoff or shutdown
// handler returns, so that handler waits for the flow's own end (slew ended,
// port closed).
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <windows.h>

#include "driver/driver.h"
#include "os/oscalls_win32.h"
#include "os/wake.h"

// Without a console the C runtime fails every printf; missing streams are
// reopened on NUL so console output goes nowhere.
static void ReopenWhenMissing(DWORD which, FILE* stream, const char* mode) {
  HANDLE handle = GetStdHandle(which);
  if (handle != NULL && handle != INVALID_HANDLE_VALUE) return;
  static_cast<void>(freopen("NUL", mode, stream));
}

void OpenStandardStreams(void) {
  ReopenWhenMissing(STD_INPUT_HANDLE, stdin, "r");
  ReopenWhenMissing(STD_OUTPUT_HANDLE, stdout, "w");
  ReopenWhenMissing(STD_ERROR_HANDLE, stderr, "w");
}

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
