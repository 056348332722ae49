// The system calls of the Windows program, reached through one table: the
// port's, the clocks' (the performance counter, SetSystemTime) and the log's
// files. The program calls them only through Os, so that a test or a
// stand-in can record them or put a failing call in place of the real one;
// it is the one seam between the program and the system. Included by the
// Windows platform files only.
#ifndef DCFSYNC_OS_OSCALLS_WIN32_H
#define DCFSYNC_OS_OSCALLS_WIN32_H

#include <stdio.h>
#include <windows.h>

// The printer spooler's header names a function ConfigurePort too (a macro
// for its A/W forms); the port's own ConfigurePort must keep its name.
#undef ConfigurePort

struct OsCalls {
  // The port.
  HANDLE(WINAPI* CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                              HANDLE);
  BOOL(WINAPI* GetCommState)(HANDLE, LPDCB);
  BOOL(WINAPI* SetCommState)(HANDLE, LPDCB);
  BOOL(WINAPI* GetCommTimeouts)(HANDLE, LPCOMMTIMEOUTS);
  BOOL(WINAPI* SetCommTimeouts)(HANDLE, LPCOMMTIMEOUTS);
  BOOL(WINAPI* EscapeCommFunction)(HANDLE, DWORD);
  BOOL(WINAPI* ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* CloseHandle)(HANDLE);
  DWORD(WINAPI* GetLastError)(void);
  // The clocks: the performance counter paces the port; SetSystemTime sets
  // the PC clock.
  BOOL(WINAPI* QueryPerformanceCounter)(LARGE_INTEGER*);
  BOOL(WINAPI* SetSystemTime)(const SYSTEMTIME*);
  // The log's and the data file's appends.
  FILE* (*OpenFile)(const char* path, const char* mode);  // fopen
  int (*PutText)(const char* text, FILE* file);          // fputs
  int (*FlushFile)(FILE* file);                          // fflush
  int (*CloseFile)(FILE* file);                          // fclose
};

// The calls in use; RealOsCalls holds the system's own.
extern OsCalls Os;
extern const OsCalls RealOsCalls;

// Puts the system's own calls back into Os.
void ResetOsCalls(void);

#endif
