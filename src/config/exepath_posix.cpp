// The running executable's path on a POSIX system without a record of it
// that this program knows: there is none, and the first argument is used.
#include "config/paths.h"

int SystemExecutablePath(char*, size_t) { return 0; }
