// The far end of the port under test, played by the test itself: a
// pseudo-terminal's master side on POSIX, a second mapped COM port on Windows.
#ifndef DCFSYNC_TESTS_MODULELINE_H
#define DCFSYNC_TESTS_MODULELINE_H

#include <stddef.h>

// Opens the module side and puts the name of the port under test into
// Settings.port. Returns false (with a reason on stderr) when no line is available.
bool ModuleLineOpen();
void ModuleLineClose();

// Writes all bytes to the port under test.
bool ModuleWrite(const void* bytes, size_t count);

// Reads what the port under test sent, up to size bytes, waiting at most
// timeoutMs for the first byte and returning after 50 ms without a further
// one. Returns the count.
int ModuleRead(unsigned char* buffer, int size, int timeoutMs);

// Drops everything the port under test has sent so far.
void ModuleDiscard();

#endif
