// The executable's path on Linux: the link /proc/self/exe.
#include <unistd.h>

#include "config/paths.h"

int SystemExecutablePath(char* path, size_t size) {
  ssize_t length = readlink("/proc/self/exe", path, size - 1);
  // A full buffer may hold a cut path.
  if (length <= 0 || (size_t)length >= size - 1) return 0;
  path[length] = '\0';
  return 1;
}
