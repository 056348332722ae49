// The wake-up of the main flow by Ctrl-C: the handler records the request (RequestWake) and
// every wait of the flow returns early. POSIX: a self-pipe, RequestWake async-signal-safe.
// Windows: an event set from the console's control thread.
#ifndef DCFSYNC_OS_WAKE_H
#define DCFSYNC_OS_WAKE_H

#include <stdint.h>

// Prepares the wake-up with no request; 0 or the error number (then waits run their full time).
int StartWake(void);

// Records the request and its time, and wakes every wait.
void RequestWake(void);

// 1 once RequestWake has run, else 0; and the monotonic ms since then (0 before).
int WakeRequested(void);
int64_t MsSinceWake(void);

// Waits ms, or less when the request comes; returns 1 when woken, 0 when the time ran out.
int WaitForWake(int ms);

// What becomes ready at the request: the pipe's read end (-1 without), or the event's HANDLE.
intptr_t WakeHandle(void);

// Forgets a request and closes the pipe or the event (tests).
void StopWake(void);

#endif
