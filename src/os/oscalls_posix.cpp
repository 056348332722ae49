// The POSIX system-call table with the system's own calls.
#include "os/oscalls_posix.h"

#include "os/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

static int SystemOpen(const char* path, int flags) { return open(path, flags); }
static int SystemControl(int fd, unsigned long request, void* arg) {
  return ioctl(fd, request, arg);
}
static void SystemBarrier(void) { std::atomic_thread_fence(std::memory_order_seq_cst); }
static int SystemFileControl(int fd, int command, int value) { return fcntl(fd, command, value); }
static size_t SystemRead(void* buffer, size_t size, FILE* file) { return fread(buffer, 1, size, file); }
static int SystemSync(FILE* file) { return fsync(fileno(file)) == 0 ? 0 : errno; }
static int SystemReplace(const char* from, const char* to) { return rename(from, to) == 0 ? 0 : errno; }

const OsCalls RealOsCalls = {SystemOpen,    close,         flock,         SystemControl, tcgetattr,
                             tcsetattr,     poll,          read,          write,         clock_gettime,
                             clock_settime, clock_adjtime, fopen,         fputs,         fflush,
                             fclose,        SystemBarrier,
                             lstat,         socket,        SystemFileControl, sendto,
                             shmget,        shmctl,        shmat,         shmdt,         geteuid,
                             setitimer,     sigaction,
                             SystemRead,    SystemSync,    SystemReplace, pipe};
OsCalls Os = RealOsCalls;
void ResetOsCalls(void) { Os = RealOsCalls; }

FILE* OsOpenFile(const char* path, const char* mode) { return Os.OpenFile(path, mode); }
int OsPutText(const char* text, FILE* file) { return Os.PutText(text, file); }
int OsFlushFile(FILE* file) { return Os.FlushFile(file); }
int OsCloseFile(FILE* file) { return Os.CloseFile(file); }
size_t OsReadText(void* buffer, size_t size, FILE* file) { return Os.ReadText(buffer, size, file); }
int OsSyncFile(FILE* file) { return Os.SyncFile(file); }
int OsReplaceFile(const char* from, const char* to) { return Os.ReplaceFile(from, to); }
