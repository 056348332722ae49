// The file calls of the log, the settings reader and the drift file,
// portable: each goes through the platform's system-call table (Os in
// oscalls_*.h), so a test can fail them like any other system call. Same
// contracts as fopen, fputs, fflush and
// fclose.
#ifndef DCFSYNC_OS_FILES_H
#define DCFSYNC_OS_FILES_H

#include <stdio.h>

FILE* OsOpenFile(const char* path, const char* mode);
int OsPutText(const char* text, FILE* file);
int OsFlushFile(FILE* file);
int OsCloseFile(FILE* file);
// fread; the file flushed to the disk, and from renamed over to (replacing
// it), each 0 or the error number.
size_t OsReadText(void* buffer, size_t size, FILE* file);
int OsSyncFile(FILE* file);
int OsReplaceFile(const char* from, const char* to);

#endif
