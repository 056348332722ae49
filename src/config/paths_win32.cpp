// File names on Windows: "\" separates and the extension is replaced.
#include <windows.h>

#include "config/paths.h"

void DeriveFilePaths(const char* exePath) { DeriveFilePathsWith(exePath, '\\', 0); }

int SystemExecutablePath(char* path, size_t size) {
  DWORD length = GetModuleFileNameA(NULL, path, (DWORD)size);
  // A result that fills the buffer has been cut.
  if (length == 0 || (size_t)length >= size - 1) return 0;
  path[length] = '\0';
  return 1;
}
