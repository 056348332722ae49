// The run's status.
#include "config/status.h"

#include <errno.h>

int RunStatus = 0;

void ResetRunStatus(void) { RunStatus = 0; }

void StatusFromFailedCall(int code) { RunStatus = code != 0 ? code : EIO; }
