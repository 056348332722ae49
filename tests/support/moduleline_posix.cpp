// Module side on POSIX: the master of a fresh pseudo-terminal; the port
// under test opens its slave.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "config/settings.h"
#include "support/moduleline.h"

static int master = -1;

bool ModuleLineOpen() {
  master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    perror("pseudo-terminal");
    return false;
  }
  char name[64];
  if (ptsname_r(master, name, sizeof name) != 0 || strlen(name) >= PortNameSize) return false;
  memcpy(Settings.port, name, strlen(name) + 1);
  return true;
}

void ModuleLineClose() {
  if (master >= 0) close(master);
  master = -1;
}

bool ModuleWrite(const void* bytes, size_t count) {
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  while (count > 0) {
    ssize_t put = write(master, p, count);
    if (put < 0 && errno == EAGAIN) {
      struct pollfd ready = {master, POLLOUT, 0};
      poll(&ready, 1, 1000);
      continue;
    }
    if (put <= 0) return false;
    p += put;
    count -= (size_t)put;
  }
  return true;
}

int ModuleRead(unsigned char* buffer, int size, int timeoutMs) {
  int count = 0;
  int wait = timeoutMs;
  while (count < size) {
    struct pollfd ready = {master, POLLIN, 0};
    if (poll(&ready, 1, wait) <= 0 || !(ready.revents & POLLIN)) break;
    ssize_t got = read(master, buffer + count, (size_t)(size - count));
    if (got <= 0) break;
    count += (int)got;
    wait = 50;
  }
  return count;
}

void ModuleDiscard() {
  unsigned char scratch[4096];
  while (ModuleRead(scratch, sizeof scratch, 0) > 0) {
  }
}
