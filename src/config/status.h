// The run's status, which becomes the exit status: set by the driver at its
// fixed points and by a failed file call of the log or the settings reader.
// Nothing else keeps a status, so errno need never be saved.
#ifndef DCFSYNC_CONFIG_STATUS_H
#define DCFSYNC_CONFIG_STATUS_H

extern int RunStatus;  // written and read by the main flow only

void ResetRunStatus(void);

// Stores a failed call's error number as the status; 0 is stored as EIO, so a
// failure never reads as success.
void StatusFromFailedCall(int code);

#endif
