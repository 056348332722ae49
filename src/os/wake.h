// The wake-up of the main flow by Ctrl-C.
//
// The interrupt handler only records the request and wakes the main flow
// (RequestWake); every wait of the flow (WaitForWake, the port's reads and
// writes) returns early once it has come, and the flow ends the run itself.
// POSIX: a self-pipe whose read end the port's poll watches beside the
// line; RequestWake is async-signal-safe. Windows: an event, set from the
// console's control thread.
#ifndef DCFSYNC_OS_WAKE_H
#define DCFSYNC_OS_WAKE_H

#include <stdint.h>

// Prepares the wake-up (the pipe, the event) with no request recorded.
// Returns 0, or the system's error number; the request is still recorded
// without it, and waits then run their full time.
int StartWake(void);

// Records the request, notes when it came, and wakes every wait.
void RequestWake(void);

// 1 once RequestWake has run, else 0.
int WakeRequested(void);

// Milliseconds since the request, on a clock that only moves forward; 0
// before it.
int64_t MsSinceWake(void);

// Waits ms milliseconds, or less when the request comes (or has come).
// Returns 1 when woken, 0 when the time ran out.
int WaitForWake(int ms);

// POSIX: the descriptor that becomes readable at the request, for a poll
// beside others; -1 when StartWake failed. Windows: the event's HANDLE.
intptr_t WakeHandle(void);

// Forgets a request and closes the pipe or the event (tests).
void StopWake(void);

#endif
