// File names on Windows: "\" separates directories and the executable's
// extension is replaced (C:\clock\rx.exe -> C:\clock\rx.ini).
#include "driver/paths.h"

void DeriveFilePaths(const char* exePath) { DeriveFilePathsWith(exePath, '\\', 0); }
