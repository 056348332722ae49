// File names on POSIX: "/" separates directories, and an executable without
// an extension is named by its whole file name (dcfsync -> dcfsync.ini).
#include "config/paths.h"

void DeriveFilePaths(const char* exePath) { DeriveFilePathsWith(exePath, '/', 1); }
