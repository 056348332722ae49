// The feed on Windows: none; its settings are read and ignored, silently.
#include "refclock/refclock.h"

void StartReferenceFeed(void) {}
void FeedReferenceClock(const TelegramSample*) {}
void StopReferenceFeed(void) {}

void DescribeReferenceFeed(char* text, size_t size) {
  if (size > 0) text[0] = '\0';
}
