// The feed to the time daemon on Windows: there is none. The program reads
// ChronySocket and NtpShmUnit as on every platform and ignores them; these
// do nothing, and log nothing.
#include "refclock/refclock.h"

void StartReferenceFeed(void) {}

void FeedReferenceClock(const TelegramSample*) {}

void StopReferenceFeed(void) {}

void DescribeReferenceFeed(char* text, size_t size) {
  if (size > 0) text[0] = '\0';
}
