// The Win32 call that sets the clock, reached through a pointer so that a
// test can record the system time it would set instead of setting it.
#ifndef DCFSYNC_CLOCK_CLOCKSET_WIN32_H
#define DCFSYNC_CLOCK_CLOCKSET_WIN32_H

#include <windows.h>

// SetSystemTime unless a test has put its recorder here.
extern BOOL(WINAPI* SystemTimeSetter)(const SYSTEMTIME* utc);

#endif
