// File names on POSIX: "/" separates directories, and an executable without
// an extension is named by its whole file name (dcfsync -> dcfsync.ini).
#include <errno.h>
#include <stdio.h>
#include <unistd.h>

#include "driver/paths.h"

void DeriveFilePaths(const char* exePath) { DeriveFilePathsWith(exePath, '/', 1); }

int FindExecutablePath(const char* firstArgument, char* path, size_t size) {
  if (size == 0) return 0;
  int saved = errno;
  ssize_t length = readlink("/proc/self/exe", path, size - 1);
  errno = saved;
  // A full buffer may hold a cut path: use the first argument instead.
  if (length > 0 && (size_t)length < size - 1) {
    path[length] = '\0';
    return 1;
  }
  int fits = snprintf(path, size, "%s", firstArgument != NULL ? firstArgument : "");
  if (fits < 0 || (size_t)fits >= size) path[0] = '\0';  // never a cut path
  return 0;
}
