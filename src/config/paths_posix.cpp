// File names on POSIX: "/" separates, a bare name is the base (dcfsync.ini).
#include "config/paths.h"

void DeriveFilePaths(const char* exePath) { DeriveFilePathsWith(exePath, '/', 1); }
