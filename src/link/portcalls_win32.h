// The Win32 calls of the Windows port, reached through one table so that a
// test can record them or put a failing call in place of the real one.
#ifndef DCFSYNC_LINK_PORTCALLS_WIN32_H
#define DCFSYNC_LINK_PORTCALLS_WIN32_H

#include <windows.h>

// The printer spooler's header names a function ConfigurePort too (a macro
// for its A/W forms); the port's own ConfigurePort must keep its name.
#undef ConfigurePort

struct PortSystemCalls {
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
};

// The calls in use; RealPortSystemCalls holds the system's own.
extern PortSystemCalls PortCalls;
extern const PortSystemCalls RealPortSystemCalls;

#endif
