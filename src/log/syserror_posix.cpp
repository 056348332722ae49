// The system's text for an error number, POSIX: strerror's text.
#include <stdio.h>
#include <string.h>

#include "log/log.h"

void LogSystemError(int code) {
  const char* text = strerror(code);
  LogText(text != NULL ? text : "");
}
