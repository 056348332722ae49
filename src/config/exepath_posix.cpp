// The executable's path where the system keeps no record of it: none.
#include "config/paths.h"

int SystemExecutablePath(char*, size_t) { return 0; }
