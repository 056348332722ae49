// Standard streams on Windows: without a console the C runtime fails every
// printf; missing streams are reopened on NUL so console output goes nowhere.
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
