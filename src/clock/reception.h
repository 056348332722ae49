// The receiver's reception, pure: starting (no trusted telegram yet), in step
// (a trusted telegram within the step limit), holding over (none for that
// long: the clock free-runs) and lost (none for the lost limit; from
// starting, the limit counts from the first update). Input: each poll's
// outcome and the program's monotonic milliseconds; output: the changes.
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

// Starting, nothing seen.
void ResetReception(ReceptionState* state);

// The step limit: 15 minutes or 3 polls, whichever is longer; the lost
// limit: 2 hours or 8 polls. pollSeconds <= 0 counts as 0.
int64_t ReceptionStepLimitMs(int32_t pollSeconds);
int64_t ReceptionLostLimitMs(int32_t pollSeconds);

// Takes one outcome at monotonicMs: trusted non-zero for a trusted telegram,
// 0 for a poll without one or a mere tick of the clock. Returns 1 when the
// state changed, with its one log line in line (size bytes; empty for the
// first step, from starting to in step, which the telegram's own lines
// show), else 0 and line untouched. Each change is reported once.
int UpdateReception(ReceptionState* state, int trusted, int64_t monotonicMs, int32_t pollSeconds,
                    char* line, size_t size);

// "2 h 3 min", "15 min", "14 s": a span of ms, floored, into text.
void FormatSpan(int64_t ms, char* text, size_t size);

// The state's name: "starting", "in step", "holding over", "lost".
const char* ReceptionName(int32_t kind);

// The service manager's status line of the state at nowMs into out: e.g.
// "in step: last trusted telegram 14 s ago, offset +0.4 ms, 12 sets today"
// or "holding over since 10:14 (2 h 3 min), no trusted telegram", then
// "; feed: " and feed unless feed is empty. since is the PC's clock (HH:MM)
// when the state began; offsetMs the last trusted telegram's lead of the
// PC (positive: the PC was ahead); sets the clock's sets of the PC's day.
void FormatReceptionStatus(const ReceptionState* state, int64_t nowMs, const char* since,
                           double offsetMs, int32_t sets, const char* feed, char* out,
                           size_t size);

#endif
