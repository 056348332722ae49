// The system's text for an error number, POSIX: strerror's text.
#include <stdio.h>
#include <string.h>

#include "log/log.h"

void LogSystemError(uint32_t code) {
  const char* text = strerror((int)code);
  LogText(text != NULL ? text : "");
}
