// The system's text for a Windows error code in the console's code page, with its line end.
#include <stdio.h>
#include <windows.h>

#include "log/log.h"

void LogSystemError(int code) {
  char text[256];
  char oem[256];
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, NULL, (DWORD)code, 1024, text, 255, NULL);
  if (length == 0) {
    snprintf(text, sizeof text, "System error %lu", (unsigned long)code);
  } else {
    text[length < 255 ? length : 255] = '\0';
  }
  CharToOemA(text, oem);
  LogText(oem);
}
