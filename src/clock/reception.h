// The receiver's reception, pure, from each poll's outcome and the monotonic time:
// starting (no trusted telegram yet), in step, holding over (none within the step
// limit) and lost (none within the lost limit).
#ifndef DCFSYNC_CLOCK_RECEPTION_H
#define DCFSYNC_CLOCK_RECEPTION_H

#include <stddef.h>
#include <stdint.h>

enum ReceptionKind { ReceptionStarting, ReceptionInStep, ReceptionHoldingOver, ReceptionLost };

struct ReceptionState {
  int32_t kind;           // a ReceptionKind
  int32_t updated;        // 0 before the first update
  int64_t firstMs;        // the first update's monotonic ms
  int64_t lastTrustedMs;  // the last trusted telegram's; firstMs before one
  int64_t sinceMs;        // when the present state began
};

void ResetReception(ReceptionState* state);

// The step limit: 15 min or 3 polls; the lost limit: 2 h or 8 polls; the longer.
int64_t ReceptionStepLimitMs(int32_t pollSeconds);
int64_t ReceptionLostLimitMs(int32_t pollSeconds);

// Takes one poll's outcome (trusted: non-zero for a trusted telegram). Returns 1
// when the state changed, with its log line in line (empty from starting to in
// step), else 0, line untouched.
int UpdateReception(ReceptionState* state, int trusted, int64_t monotonicMs, int32_t pollSeconds,
                    char* line, size_t size);

void FormatSpan(int64_t ms, char* text, size_t size);  // "2 h 3 min", "15 min", "14 s"
const char* ReceptionName(int32_t kind);               // "starting", "in step", ...

// The service manager's status line at nowMs, e.g. "in step: last trusted telegram
// 14 s ago, offset +0.4 ms, 12 sets today", then "; feed: " and feed unless empty.
// since: the PC's HH:MM when the state began; sets: the clock's sets today.
void FormatReceptionStatus(const ReceptionState* state, int64_t nowMs, const char* since,
                           double offsetMs, int32_t sets, const char* feed, char* out,
                           size_t size);

#endif
