// The wake-up on Windows: a flag and an event, set from the console's control thread.
#include <windows.h>

#include "os/monotonic.h"
#include "os/wake.h"

static struct {
  HANDLE event;              // manual reset; NULL when closed
  volatile LONG requested;
  volatile LONGLONG requestedMs;
} Wake = {NULL, 0, 0};

int StartWake(void) {
  StopWake();
  Wake.event = CreateEventA(NULL, TRUE, FALSE, NULL);
  return Wake.event != NULL ? 0 : (int)GetLastError();
}

void RequestWake(void) {
  InterlockedExchange64(&Wake.requestedMs, (LONGLONG)MonotonicReadingMs());
  InterlockedExchange(&Wake.requested, 1);
  if (Wake.event != NULL) SetEvent(Wake.event);
}

int WakeRequested(void) { return InterlockedCompareExchange(&Wake.requested, 0, 0) != 0; }

int64_t MsSinceWake(void) {
  if (!WakeRequested()) return 0;
  return MonotonicMs() - (int64_t)InterlockedCompareExchange64(&Wake.requestedMs, 0, 0);
}

int WaitForWake(int ms) {
  if (WakeRequested()) return 1;
  if (Wake.event == NULL) {
    Sleep((DWORD)ms);
  } else {
    WaitForSingleObject(Wake.event, (DWORD)ms);
  }
  return WakeRequested();
}

intptr_t WakeHandle(void) { return (intptr_t)Wake.event; }

void StopWake(void) {
  if (Wake.event != NULL) CloseHandle(Wake.event);
  Wake.event = NULL;
  Wake.requested = 0;
  Wake.requestedMs = 0;
}
