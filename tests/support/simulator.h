// The receiver simulator run as a child process by the tests. Header only:
// each test program that includes it defines DCFSIM_PATH, the simulator's
// path in the build.
#ifndef DCFSYNC_TESTS_SIMULATOR_H
#define DCFSYNC_TESTS_SIMULATOR_H

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/child.h"

// A directory for the simulator's files of the running test, apart from the
// scratch directory that every decoding in between starts afresh.
inline std::string SimDirectory() {
  std::string dir = testing::TempDir() + "dcfsim_" +
                    testing::UnitTest::GetInstance()->current_test_info()->name();
  mkdir(dir.c_str(), 0700);
  return dir + "/";
}

// A running simulator, killed and reaped at the end of the test whatever
// happens. Its first output line (the port) comes through a pipe; its error
// output goes to stderr.txt in the directory given.
struct Simulator : ChildProcess {
  std::string errors;
  bool Start(const std::string& dir, std::vector<std::string> args) {
    errors = dir + "stderr.txt";
    ChildStreams streams;
    streams.output = PipeStream;
    streams.errors = errors;
    args.insert(args.begin(), DCFSIM_PATH);
    return ChildProcess::Start(args, {}, streams);
  }
  // The first line on stdout, or "" when none comes within 5 s.
  std::string Line() {
    std::string line;
    char c;
    pollfd p = {pipe, POLLIN, 0};
    while (poll(&p, 1, 5000) > 0 && read(pipe, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  // Exit status after signal (0: none sent); -1 when it does not end within 5 s.
  int Wait(int signal) { return Stop(signal, 5); }
};

#endif
