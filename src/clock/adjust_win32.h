// The Win32 calls behind the tick adjustment, reached through pointers so
// that a test can record what would be set instead of setting it.
#ifndef DCFSYNC_CLOCK_ADJUST_WIN32_H
#define DCFSYNC_CLOCK_ADJUST_WIN32_H

#include <windows.h>

// Set by the first adjustment: kernel32's SetSystemTimeAdjustmentPrecise and
// GetSystemTimeAdjustmentPrecise where the system has them (Windows 10 and
// later), else NULL and the older SetSystemTimeAdjustment pair is used. A
// test sets all four before the first adjustment.
extern BOOL(WINAPI* PreciseAdjustmentSetter)(DWORD64 adjustment, BOOL disabled);
extern BOOL(WINAPI* PreciseAdjustmentGetter)(PDWORD64 adjustment, PDWORD64 increment,
                                             PBOOL disabled);
extern BOOL(WINAPI* AdjustmentSetter)(DWORD adjustment, BOOL disabled);
extern BOOL(WINAPI* AdjustmentGetter)(PDWORD adjustment, PDWORD increment, PBOOL disabled);
// 1 once the pointers have been looked up (or set by a test).
extern int AdjustmentCallsReady;

#endif
