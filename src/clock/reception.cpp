// The receiver's reception state and its status line.
#include "clock/reception.h"

#include <stdio.h>

void ResetReception(ReceptionState* state) { *state = ReceptionState{ReceptionStarting, 0, 0, 0, 0}; }

static int64_t Longer(int64_t a, int64_t b) { return a > b ? a : b; }
int64_t ReceptionStepLimitMs(int32_t pollSeconds) {
  return Longer(15 * 60000LL, 3000LL * (pollSeconds > 0 ? pollSeconds : 0));
}
int64_t ReceptionLostLimitMs(int32_t pollSeconds) {
  return Longer(120 * 60000LL, 8000LL * (pollSeconds > 0 ? pollSeconds : 0));
}

void FormatSpan(int64_t ms, char* text, size_t size) {
  int64_t s = ms > 0 ? ms / 1000 : 0;
  if (s >= 3600) {
    snprintf(text, size, "%lld h %lld min", (long long)(s / 3600), (long long)(s % 3600 / 60));
  } else if (s >= 60) {
    snprintf(text, size, "%lld min", (long long)(s / 60));
  } else {
    snprintf(text, size, "%lld s", (long long)s);
  }
}

const char* ReceptionName(int32_t kind) {
  static const char* const names[] = {"starting", "in step", "holding over", "lost"};
  return kind >= ReceptionStarting && kind <= ReceptionLost ? names[kind] : "?";
}

int UpdateReception(ReceptionState* state, int trusted, int64_t monotonicMs, int32_t pollSeconds,
                    char* line, size_t size) {
  if (!state->updated) {
    state->updated = 1;
    state->firstMs = state->lastTrustedMs = state->sinceMs = monotonicMs;
  }
  char span[32];
  FormatSpan(monotonicMs - state->lastTrustedMs, span, sizeof span);
  int32_t next = state->kind;
  if (trusted) {
    next = ReceptionInStep;
    if (state->kind == ReceptionStarting && size > 0) {
      line[0] = '\0';  // the first telegram's own lines say it
    } else if (state->kind != ReceptionInStep) {
      snprintf(line, size, "Reception in step again after %s without a trusted telegram", span);
    }
    state->lastTrustedMs = monotonicMs;
  } else if (state->kind != ReceptionLost &&
             monotonicMs - state->lastTrustedMs >= ReceptionLostLimitMs(pollSeconds)) {
    next = ReceptionLost;
    snprintf(line, size, state->kind == ReceptionStarting
                             ? "Reception lost: no trusted telegram in the first %s"
                             : "Reception lost: no trusted telegram for %s",
             span);
  } else if (state->kind == ReceptionInStep &&
             monotonicMs - state->lastTrustedMs >= ReceptionStepLimitMs(pollSeconds)) {
    next = ReceptionHoldingOver;
    snprintf(line, size, "Reception holding over: no trusted telegram for %s", span);
  }
  if (next == state->kind) return 0;
  state->kind = next;
  state->sinceMs = monotonicMs;
  return 1;
}

void FormatReceptionStatus(const ReceptionState* state, int64_t nowMs, const char* since,
                           double offsetMs, int32_t sets, const char* feed, char* out,
                           size_t size) {
  char age[32], span[32];
  FormatSpan(nowMs - state->lastTrustedMs, age, sizeof age);
  FormatSpan(nowMs - state->sinceMs, span, sizeof span);
  int n = 0;
  if (state->kind == ReceptionInStep) {
    n = snprintf(out, size, "in step: last trusted telegram %s ago, offset %+.1f ms, %d set%s today",
                 age, offsetMs, (int)sets, sets == 1 ? "" : "s");
  } else if (state->kind == ReceptionStarting) {
    n = snprintf(out, size, "starting since %s (%s), no trusted telegram yet", since, span);
  } else {
    n = snprintf(out, size, "%s since %s (%s), no trusted telegram%s%s", ReceptionName(state->kind),
                 since, span, state->kind == ReceptionLost ? " for " : "",
                 state->kind == ReceptionLost ? age : "");
  }
  if (feed[0] != '\0' && n >= 0 && (size_t)n < size) snprintf(out + n, size - (size_t)n, "; feed: %s", feed);
}
