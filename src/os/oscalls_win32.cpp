// The Windows system-call table with the system's own calls.
#include "os/oscalls_win32.h"

#include "os/files.h"

const OsCalls RealOsCalls = {
    ::CreateFileA,     ::GetCommState,       ::SetCommState, ::GetCommTimeouts,
    ::SetCommTimeouts, ::EscapeCommFunction, ::ReadFile,     ::WriteFile,
    ::CloseHandle,     ::GetLastError,       ::QueryPerformanceCounter,
    ::SetSystemTime,   fopen,                fputs,          fflush,
    fclose};
OsCalls Os = RealOsCalls;

void ResetOsCalls(void) { Os = RealOsCalls; }

FILE* OsOpenFile(const char* path, const char* mode) { return Os.OpenFile(path, mode); }
int OsPutText(const char* text, FILE* file) { return Os.PutText(text, file); }
int OsFlushFile(FILE* file) { return Os.FlushFile(file); }
int OsCloseFile(FILE* file) { return Os.CloseFile(file); }
