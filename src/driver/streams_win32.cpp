// Standard streams on Windows: a program started without a console, or with
// its standard handles closed, has no handle behind stdin, stdout or stderr.
// The C runtime then fails every printf, which the run must survive; the
// missing streams are reopened on NUL so that console output simply goes
// nowhere and the log file still gets every line.
#include <windows.h>

#include <stdio.h>

#include "driver/driver.h"

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
