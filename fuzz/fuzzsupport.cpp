#include "fuzzsupport.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "config/paths.h"
#include "config/settings.h"

void FuzzQuietProgram(void) {
  if (freopen("/dev/null", "w", stdout) == NULL) abort();
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  snprintf(Paths.log, sizeof Paths.log, "/dev/null");
  snprintf(Paths.data, sizeof Paths.data, "/dev/null");
  ResetSettings();
}
