// The Windows system-call table with the system's own calls.
#include "os/oscalls_win32.h"

#include <io.h>

#include "os/files.h"

static size_t SystemRead(void* buffer, size_t size, FILE* file) { return fread(buffer, 1, size, file); }
static int SystemSync(FILE* file) {
  return FlushFileBuffers((HANDLE)_get_osfhandle(_fileno(file))) ? 0 : (int)GetLastError();
}
static int SystemReplace(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : (int)GetLastError();
}

const OsCalls RealOsCalls = {
    ::CreateFileA,     ::GetCommState,       ::SetCommState, ::GetCommTimeouts,
    ::SetCommTimeouts, ::EscapeCommFunction, ::ReadFile,     ::WriteFile,
    ::CloseHandle,     ::GetLastError,       ::QueryPerformanceCounter,
    ::SetSystemTime,   ::SetSystemTimeAdjustment, ::GetSystemTimeAdjustment, NULL,
    NULL,              fopen,                fputs,          fflush,
    fclose,            ::SetCommMask,        ::WaitCommEvent, ::GetOverlappedResult,
    ::GetCommModemStatus, ::CreateEventA,    ::WaitForMultipleObjects,
    ::GetSystemTimeAsFileTime, ::CancelIoEx,
    SystemRead,        SystemSync,           SystemReplace,
    ::OpenProcessToken, ::LookupPrivilegeValueA, ::AdjustTokenPrivileges, ::SetConsoleCtrlHandler};

typedef BOOL(WINAPI* PreciseSetter)(DWORD64, BOOL);
typedef BOOL(WINAPI* PreciseGetter)(PDWORD64, PDWORD64, PBOOL);
typedef VOID(WINAPI* PreciseClock)(LPFILETIME);

// The system's own calls with kernel32's precise calls where it has them.
static OsCalls SystemCalls(void) {
  OsCalls calls = RealOsCalls;
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  FARPROC set = kernel != NULL ? GetProcAddress(kernel, "SetSystemTimeAdjustmentPrecise") : NULL;
  FARPROC get = kernel != NULL ? GetProcAddress(kernel, "GetSystemTimeAdjustmentPrecise") : NULL;
  if (set != NULL && get != NULL) {
    calls.SetSystemTimeAdjustmentPrecise = (PreciseSetter)(void (*)(void))set;
    calls.GetSystemTimeAdjustmentPrecise = (PreciseGetter)(void (*)(void))get;
  }
  FARPROC precise = kernel != NULL ? GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime") : NULL;
  if (precise != NULL) calls.GetSystemTimePreciseAsFileTime = (PreciseClock)(void (*)(void))precise;
  return calls;
}

OsCalls Os = SystemCalls();
void ResetOsCalls(void) { Os = SystemCalls(); }

FILE* OsOpenFile(const char* path, const char* mode) { return Os.OpenFile(path, mode); }
int OsPutText(const char* text, FILE* file) { return Os.PutText(text, file); }
int OsFlushFile(FILE* file) { return Os.FlushFile(file); }
int OsCloseFile(FILE* file) { return Os.CloseFile(file); }
size_t OsReadText(void* buffer, size_t size, FILE* file) { return Os.ReadText(buffer, size, file); }
int OsSyncFile(FILE* file) { return Os.SyncFile(file); }
int OsReplaceFile(const char* from, const char* to) { return Os.ReplaceFile(from, to); }
