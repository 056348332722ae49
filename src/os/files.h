// The file calls of the log, the settings reader and the drift file through the system-call
// table (Os), so a test can fail them. As fopen, fputs, fflush, fclose and fread; OsSyncFile
// (to the disk) and OsReplaceFile (rename over) return 0 or the error number.
#ifndef DCFSYNC_OS_FILES_H
#define DCFSYNC_OS_FILES_H

#include <stdio.h>

FILE* OsOpenFile(const char* path, const char* mode);
int OsPutText(const char* text, FILE* file);
int OsFlushFile(FILE* file);
int OsCloseFile(FILE* file);
size_t OsReadText(void* buffer, size_t size, FILE* file);
int OsSyncFile(FILE* file);
int OsReplaceFile(const char* from, const char* to);

#endif
