// The receiver simulator run as a child process by the tests. Header only:
// each test program that includes it defines DCFSIM_PATH, the simulator's
// path in the build.
#ifndef DCFSYNC_TESTS_SIMULATOR_H
#define DCFSYNC_TESTS_SIMULATOR_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

// A directory for the simulator's files of the running test, apart from the
// scratch directory that every decoding in between starts afresh.
inline std::string SimDirectory() {
  std::string dir = testing::TempDir() + "dcfsim_" +
                    testing::UnitTest::GetInstance()->current_test_info()->name();
  mkdir(dir.c_str(), 0700);
  return dir + "/";
}

// A running simulator, killed and reaped at the end of the test whatever happens.
struct Simulator {
  pid_t pid = -1;
  int out = -1;
  std::string errors;
  bool Start(const std::string& dir, std::vector<std::string> args) {
    if (out >= 0) close(out);
    out = -1;
    errors = dir + "stderr.txt";
    int fds[2];
    if (pipe(fds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    args.insert(args.begin(), DCFSIM_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int failed = posix_spawn(&pid, DCFSIM_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out = fds[0];
    if (failed) pid = -1;
    return failed == 0;
  }
  // The first line on stdout, or "" when none comes within 5 s.
  std::string Line() {
    std::string line;
    char c;
    pollfd p = {out, POLLIN, 0};
    while (poll(&p, 1, 5000) > 0 && read(out, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  // Exit status after signal (0: none sent); -1 when it does not end within 5 s.
  int Wait(int signal) {
    if (signal) kill(pid, signal);
    for (int i = 0, status = 0; i < 250; ++i, usleep(20000)) {
      if (waitpid(pid, &status, WNOHANG) != pid) continue;
      pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return -1;
  }
  ~Simulator() {
    if (pid > 0) {
      kill(pid, SIGKILL);  // fails harmlessly when it has ended by itself
      waitpid(pid, nullptr, 0);
    }
    if (out >= 0) close(out);
  }
};

#endif
