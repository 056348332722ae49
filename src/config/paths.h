// Names of the program's files, derived from the executable's own path.
//
// The settings, log and data files lie beside the executable and carry its
// base name: /opt/clock/dcfsync gives /opt/clock/dcfsync.ini, .log and .dat;
// C:\clock\rx.exe gives C:\clock\rx.ini, .log and .dat.
#ifndef DCFSYNC_CONFIG_PATHS_H
#define DCFSYNC_CONFIG_PATHS_H

#include <stddef.h>

enum { PathTextSize = 255 };  // 254 characters and the terminator

// The program's file names, owned by the driver: derived once at start-up,
// read-only after that.
struct FilePaths {
  char directory[PathTextSize];  // the executable's directory
  char baseName[PathTextSize];   // its name without the extension
  char settings[PathTextSize];   // directory + separator + baseName + ".ini"
  char log[PathTextSize];        // ... ".log"
  char data[PathTextSize];       // ... ".dat"
  // The clock discipline's drift file, ... ".drift"; empty when that name
  // would not fit, which refuses none of the others.
  char drift[PathTextSize];
};
extern FilePaths Paths;

// Empties every path text.
void ResetPaths(void);

// Fills Paths from the executable's path with the given directory separator.
//
// The directory is everything before the last separator, the base name what
// lies between that separator and the last "." after it. Where that cannot be
// found, "Error argv[]!\n" goes to standard output once and the missing parts
// stay empty, so the files become e.g. "\.ini":
//   - no separator at all: directory and base name empty;
//   - no "." in the file name: base name empty, unless bareNameIsBase is set
//     (executables without an extension, as on POSIX), in which case the
//     whole file name is the base name and nothing is reported.
// A path of more than 254 characters, or one whose derived names would not
// fit 254 characters, is refused like a path without a separator: nothing is
// cut, so no file is ever looked for or written under a truncated name.
void DeriveFilePathsWith(const char* exePath, char separator, int bareNameIsBase);

// DeriveFilePathsWith with this platform's separator and naming rule.
void DeriveFilePaths(const char* exePath);

// Writes the running executable's full path into path (size bytes, always
// terminated): the system's own record of it (GetModuleFileNameA on Windows,
// /proc/self/exe on Linux), so that a program started by a relative or bare
// name still finds its files. Where the system has no answer, or the answer
// does not fit, firstArgument is used instead; NULL, or an argument that
// does not fit either, gives an empty path (never a cut one).
// Returns 1 when the system's record was used, 0 when firstArgument was.
int FindExecutablePath(const char* firstArgument, char* path, size_t size);

// The system's own record of the running executable's full path, written
// into path (size bytes, at least 2); 0 when there is none or it does not
// fit. One implementation per system (exepath_linux.cpp: /proc/self/exe;
// exepath_posix.cpp for other POSIX systems: none; paths_win32.cpp).
int SystemExecutablePath(char* path, size_t size);

// Size for FindExecutablePath's result: longer than any path text, so that a
// path too long for the file names is refused whole rather than cut.
enum { ExecutablePathSize = 4096 };

#endif
