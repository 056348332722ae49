// The run's status: one number that becomes the exit status ("Return errno N").
// The driver sets it at its fixed points; a failed file call of the log or the
// settings reader stores its error code, which stays until the next failure or
// fixed point. Nothing else keeps a status, so errno need never be saved.
#ifndef DCFSYNC_CONFIG_STATUS_H
#define DCFSYNC_CONFIG_STATUS_H

// Written and read by the main flow only.
extern int RunStatus;

void ResetRunStatus(void);

// Stores a failed call's error number as the status; 0 is stored as EIO, so a
// failure never reads as success.
void StatusFromFailedCall(int code);

#endif
