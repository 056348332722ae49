// The Windows program's system calls, reached only through one table (Os), so that a test can
// record them or put a failing call in place of the real one. Windows platform files only.
#ifndef DCFSYNC_OS_OSCALLS_WIN32_H
#define DCFSYNC_OS_OSCALLS_WIN32_H

#include <stdio.h>
#include <windows.h>

// The spooler's header makes ConfigurePort a macro for its A/W forms; the port's keeps its name.
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
  // The clocks; the tick adjustment's precise pair is NULL where kernel32 has none.
  BOOL(WINAPI* QueryPerformanceCounter)(LARGE_INTEGER*);
  BOOL(WINAPI* SetSystemTime)(const SYSTEMTIME*);
  BOOL(WINAPI* SetSystemTimeAdjustment)(DWORD, BOOL);
  BOOL(WINAPI* GetSystemTimeAdjustment)(PDWORD, PDWORD, PBOOL);
  BOOL(WINAPI* SetSystemTimeAdjustmentPrecise)(DWORD64, BOOL);
  BOOL(WINAPI* GetSystemTimeAdjustmentPrecise)(PDWORD64, PDWORD64, PBOOL);
  // The program's files.
  FILE* (*OpenFile)(const char* path, const char* mode);  // fopen
  int (*PutText)(const char* text, FILE* file);          // fputs
  int (*FlushFile)(FILE* file);                          // fflush
  int (*CloseFile)(FILE* file);                          // fclose
  // The pulse receiver's wait; the precise PC clock is GetSystemTimeAsFileTime where kernel32
  // has none.
  BOOL(WINAPI* SetCommMask)(HANDLE, DWORD);
  BOOL(WINAPI* WaitCommEvent)(HANDLE, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* GetOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
  BOOL(WINAPI* GetCommModemStatus)(HANDLE, LPDWORD);
  HANDLE(WINAPI* CreateEventA)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR);
  DWORD(WINAPI* WaitForMultipleObjects)(DWORD, const HANDLE*, BOOL, DWORD);
  VOID(WINAPI* GetSystemTimePreciseAsFileTime)(LPFILETIME);
  BOOL(WINAPI* CancelIoEx)(HANDLE, LPOVERLAPPED);
  // The drift file (0 or the error number), the right to adjust the clock, the console.
  size_t (*ReadText)(void* buffer, size_t size, FILE* file);  // fread
  int (*SyncFile)(FILE* file);
  int (*ReplaceFile)(const char* from, const char* to);
  BOOL(WINAPI* OpenProcessToken)(HANDLE, DWORD, PHANDLE);
  BOOL(WINAPI* LookupPrivilegeValueA)(LPCSTR, LPCSTR, PLUID);
  BOOL(WINAPI* AdjustTokenPrivileges)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES,
                                      PDWORD);
  BOOL(WINAPI* SetConsoleCtrlHandler)(PHANDLER_ROUTINE, BOOL);
};

// The calls in use, and the system's own (precise calls NULL); ResetOsCalls puts the system's
// own back, with kernel32's precise calls where it has them.
extern OsCalls Os;
extern const OsCalls RealOsCalls;
void ResetOsCalls(void);

#endif
