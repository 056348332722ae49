// The program's file names: beside the executable, with its base name
// (/opt/clock/dcfsync gives dcfsync.ini, .log, .dat; C:\clock\rx.exe rx.ini ...).
#ifndef DCFSYNC_CONFIG_PATHS_H
#define DCFSYNC_CONFIG_PATHS_H

#include <stddef.h>

enum {
  PathTextSize = 255,        // 254 characters and the terminator
  ExecutablePathSize = 4096  // longer than any path text: too long is refused, never cut
};

// Owned by the driver: derived once at start-up, read-only after that.
struct FilePaths {
  char directory[PathTextSize];
  char baseName[PathTextSize];  // the file name without its extension
  char settings[PathTextSize];  // directory, separator, baseName, ".ini"
  char log[PathTextSize];       // ... ".log"
  char data[PathTextSize];      // ... ".dat"
  char drift[PathTextSize];     // ... ".drift"; empty when it would not fit
};
extern FilePaths Paths;

void ResetPaths(void);

// Fills Paths: the directory precedes the last separator, the base name lies
// between it and the last "." after it (or is the whole name, if
// bareNameIsBase). A part not found stays empty (files "\.ini"), and names
// over 254 characters empty both: no file is named by a cut path. Either
// prints "Error argv[]!\n" once.
void DeriveFilePathsWith(const char* exePath, char separator, int bareNameIsBase);
void DeriveFilePaths(const char* exePath);  // with the platform's rules

// Writes the executable's path into path: the system's record of it, else
// firstArgument, else an empty text (never a cut one). 1: the system's record.
int FindExecutablePath(const char* firstArgument, char* path, size_t size);

// The system's record of the executable's path (size at least 2); 0 when
// there is none or it does not fit.
int SystemExecutablePath(char* path, size_t size);

#endif
