// The system calls of the Windows program, reached through one table: the
// port's, the clocks' (the performance counter, SetSystemTime, the tick
// adjustment) and the log's
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
  // The clock's tick adjustment: the older pair, and the precise pair of
  // Windows 10 and later (NULL where kernel32 has none; then the older pair
  // is used).
  BOOL(WINAPI* SetSystemTimeAdjustment)(DWORD, BOOL);
  BOOL(WINAPI* GetSystemTimeAdjustment)(PDWORD, PDWORD, PBOOL);
  BOOL(WINAPI* SetSystemTimeAdjustmentPrecise)(DWORD64, BOOL);
  BOOL(WINAPI* GetSystemTimeAdjustmentPrecise)(PDWORD64, PDWORD64, PBOOL);
  // The log's and the data file's appends.
  FILE* (*OpenFile)(const char* path, const char* mode);  // fopen
  int (*PutText)(const char* text, FILE* file);          // fputs
  int (*FlushFile)(FILE* file);                          // fflush
  int (*CloseFile)(FILE* file);                          // fclose
  // The pulse receiver's wait for a status line: an overlapped
  // WaitCommEvent beside Ctrl-C's event, the line's state, and the precise
  // PC clock (Windows 8 and later: looked up in kernel32 when the table is
  // filled; where it is missing the plain GetSystemTimeAsFileTime).
  BOOL(WINAPI* SetCommMask)(HANDLE, DWORD);
  BOOL(WINAPI* WaitCommEvent)(HANDLE, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* GetOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
  BOOL(WINAPI* GetCommModemStatus)(HANDLE, LPDWORD);
  HANDLE(WINAPI* CreateEventA)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR);
  DWORD(WINAPI* WaitForMultipleObjects)(DWORD, const HANDLE*, BOOL, DWORD);
  VOID(WINAPI* GetSystemTimePreciseAsFileTime)(LPFILETIME);
  BOOL(WINAPI* CancelIoEx)(HANDLE, LPOVERLAPPED);
  // The clock discipline: its drift file replaced whole (read, flushed to
  // the disk with FlushFileBuffers, moved over the old one with
  // MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH; 0 or the error
  // number), the right to adjust the clock, and the console's events.
  size_t (*ReadText)(void* buffer, size_t size, FILE* file);  // fread
  int (*SyncFile)(FILE* file);
  int (*ReplaceFile)(const char* from, const char* to);
  BOOL(WINAPI* OpenProcessToken)(HANDLE, DWORD, PHANDLE);
  BOOL(WINAPI* LookupPrivilegeValueA)(LPCSTR, LPCSTR, PLUID);
  BOOL(WINAPI* AdjustTokenPrivileges)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES,
                                      PDWORD);
  BOOL(WINAPI* SetConsoleCtrlHandler)(PHANDLER_ROUTINE, BOOL);
};

// The calls in use; RealOsCalls holds the system's own (its precise tick
// adjustment pair NULL: Os gets kernel32's where it has them, at start and
// by ResetOsCalls).
extern OsCalls Os;
extern const OsCalls RealOsCalls;

// Puts the system's own calls back into Os.
void ResetOsCalls(void);

#endif
