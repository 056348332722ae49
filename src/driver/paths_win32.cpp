// File names on Windows: "\" separates directories and the executable's
// extension is replaced (C:\clock\rx.exe -> C:\clock\rx.ini).
#include <windows.h>

#include <stdio.h>

#include "driver/paths.h"

void DeriveFilePaths(const char* exePath) { DeriveFilePathsWith(exePath, '\\', 0); }

int FindExecutablePath(const char* firstArgument, char* path, size_t size) {
  if (size == 0) return 0;
  DWORD length = GetModuleFileNameA(NULL, path, (DWORD)size);
  // A result that fills the buffer has been cut.
  if (length > 0 && (size_t)length < size - 1) {
    path[length] = '\0';
    return 1;
  }
  int fits = snprintf(path, size, "%s", firstArgument != NULL ? firstArgument : "");
  if (fits < 0 || (size_t)fits >= size) path[0] = '\0';  // never a cut path
  return 0;
}
