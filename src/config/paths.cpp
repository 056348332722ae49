// The program's file names, derived from the executable's own path.
#include "config/paths.h"

#include <stdio.h>
#include <string.h>

FilePaths Paths;

void ResetPaths(void) { memset(&Paths, 0, sizeof Paths); }

// Formats directory, separator, base name and extension into path; 0 when cut.
static int FormatPath(char* path, char separator, const char* extension) {
  int length = snprintf(path, PathTextSize, "%s%c%s%s", Paths.directory, separator,
                        Paths.baseName, extension);
  return length >= 0 && length < PathTextSize;
}

static int FormatAllPaths(char separator) {
  int fits = FormatPath(Paths.settings, separator, ".ini");
  fits &= FormatPath(Paths.log, separator, ".log");
  fits &= FormatPath(Paths.data, separator, ".dat");
  return fits;
}

void DeriveFilePathsWith(const char* exePath, char separator, int bareNameIsBase) {
  Paths.directory[0] = '\0';
  Paths.baseName[0] = '\0';
  size_t length = strlen(exePath);
  const char* slash = strrchr(exePath, separator);
  int complete = slash != NULL && length < PathTextSize;
  if (complete) {
    size_t directoryLength = (size_t)(slash - exePath);
    memcpy(Paths.directory, exePath, directoryLength);
    Paths.directory[directoryLength] = '\0';
    const char* name = slash + 1;
    const char* dot = strrchr(name, '.');
    if (dot == NULL && bareNameIsBase) dot = name + strlen(name);
    if (dot != NULL) {
      memcpy(Paths.baseName, name, (size_t)(dot - name));
      Paths.baseName[dot - name] = '\0';
    } else {
      complete = 0;  // base name stays empty
    }
  }
  if (!FormatAllPaths(separator)) {
    // The derived names would be cut: use none of them.
    complete = 0;
    Paths.directory[0] = '\0';
    Paths.baseName[0] = '\0';
    FormatAllPaths(separator);
  }
  if (!FormatPath(Paths.drift, separator, ".drift")) Paths.drift[0] = '\0';
  if (!complete) printf("Error argv[]!\n");
  fflush(stdout);
}

int FindExecutablePath(const char* firstArgument, char* path, size_t size) {
  if (size < 2) {
    if (size == 1) path[0] = '\0';
    return 0;
  }
  if (SystemExecutablePath(path, size)) return 1;
  int fits = snprintf(path, size, "%s", firstArgument != NULL ? firstArgument : "");
  if (fits < 0 || (size_t)fits >= size) path[0] = '\0';  // never a cut path
  return 0;
}
