// The run's status: one process-wide number that becomes the exit status.
//
// The driver sets it at its fixed points (0 once the port is open; 254, 253
// or 250 when the port cannot be opened or configured or the receiver does
// not identify itself). After that, a library call of the log or the
// settings reader that fails (opening, writing, flushing or closing the log
// or data file, opening or reading the settings file) stores its error code
// here, and the code stays until something else fails or the driver sets the
// status again; calls that succeed leave it alone. Its value at the end is
// reported as "Return errno N" and returned as the exit status.
//
// Nothing else keeps the status: errno is free for every call to use, and
// no code needs to save and restore it around a call.
#ifndef DCFSYNC_CONFIG_STATUS_H
#define DCFSYNC_CONFIG_STATUS_H

// 0 at start. Written and read by the main flow only (the Ctrl-C handler
// ends the process with its own status and never looks at it).
extern int RunStatus;

// Puts the status back to 0, as at start.
void ResetRunStatus(void);

// Stores code, the error number a failed library call left (errno, or
// the system's code where errno has none), as the run's status. A code of 0
// (a failure that left no code) is stored as EIO, so that a failure never
// reads as success.
void StatusFromFailedCall(int code);

#endif
