// A directory for Unix socket paths in tests. A socket's path must fit a
// socket address (107 characters), and the build's own scratch directories
// may lie deeper than that in a long checkout path. Header only, POSIX.
#ifndef DCFSYNC_TESTS_SOCKETDIR_H
#define DCFSYNC_TESTS_SOCKETDIR_H

#include <stdlib.h>

#include <string>

// A fresh directory under /tmp with a unique name (mkdtemp: mode 0700,
// so runs of other checkouts never meet it), ending in "/"; "" when none
// could be made. The caller removes it.
inline std::string SocketDirectory() {
  std::string dir = "/tmp/dcfsync-sock.XXXXXX";
  if (mkdtemp(&dir[0]) == nullptr) return "";
  return dir + "/";
}

#endif
