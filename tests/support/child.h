// A child process of a POSIX test: the receiver simulator or the program
// itself. Header only. Started with posix_spawn with its standard streams
// as asked, waited for within a limit, and killed and reaped when the
// test is over, whatever happened.
#ifndef DCFSYNC_TESTS_CHILD_H
#define DCFSYNC_TESTS_CHILD_H

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

extern char** environ;

// Starting a process and writing an executable exclude each other when
// tests prepare and start runs from several threads: a child started while
// a copy of the program is open for writing would hold it open until its
// exec and make the copy's own start fail with "Text file busy". Every
// start below takes this lock, and so does ProgramRun's copy.
inline std::mutex& SpawnLock() {
  static std::mutex lock;
  return lock;
}

// Where a child's standard streams go. A path names a file (input opened for
// reading, output created or truncated); "" leaves that stream closed;
// PipeStream (output only) makes a pipe whose reading end the parent keeps.
struct ChildStreams {
  std::string input = "/dev/null";
  std::string output = "/dev/null";
  std::string errors = "/dev/null";
  std::string directory;  // working directory; "" keeps the parent's
};
const char PipeStream[] = "|";

struct ChildProcess {
  pid_t pid = -1;
  int pipe = -1;  // the reading end of a PipeStream output, else -1
  std::chrono::steady_clock::time_point started;

  // Starts argv[0] (a path) with argv and the environment env (the parent's
  // when empty). Returns false when it could not be started.
  bool Start(std::vector<std::string> argv, std::vector<std::string> env,
             const ChildStreams& streams) {
    Reap();
    if (pipe >= 0) close(pipe);
    pipe = -1;
    int ends[2] = {-1, -1};
    if (streams.output == PipeStream && ::pipe2(ends, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    auto stream = [&](int fd, const std::string& path, int flags) {
      if (path.empty()) {
        posix_spawn_file_actions_addclose(&actions, fd);
      } else if (path == PipeStream) {
        posix_spawn_file_actions_adddup2(&actions, ends[1], fd);
      } else {
        posix_spawn_file_actions_addopen(&actions, fd, path.c_str(), flags, 0644);
      }
    };
    stream(0, streams.input, O_RDONLY);
    stream(1, streams.output, O_WRONLY | O_CREAT | O_TRUNC);
    stream(2, streams.errors, O_WRONLY | O_CREAT | O_TRUNC);
    if (!streams.directory.empty()) {
      posix_spawn_file_actions_addchdir_np(&actions, streams.directory.c_str());
    }
    std::vector<char*> args, envp;
    for (std::string& a : argv) args.push_back(&a[0]);
    args.push_back(nullptr);
    for (std::string& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    started = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> hold(SpawnLock());
    int failed = posix_spawn(&pid, args[0], &actions, nullptr, args.data(),
                             env.empty() ? environ : envp.data());
    hold.unlock();
    posix_spawn_file_actions_destroy(&actions);
    if (ends[1] >= 0) close(ends[1]);
    pipe = ends[0];
    if (failed) pid = -1;
    return failed == 0;
  }

  // Exit status (128 + signal when killed) once the child has ended; -1
  // when it is still running at end.
  int WaitUntil(std::chrono::steady_clock::time_point end) {
    for (;;) {
      int status = 0;
      if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (pid <= 0 || std::chrono::steady_clock::now() >= end) return -1;
      usleep(20000);
    }
  }
  // The same, limit seconds after the start.
  int Wait(double limit) {
    return WaitUntil(started + std::chrono::milliseconds((long)(limit * 1000)));
  }
  // Sends signal (none when 0), then waits up to limit seconds from now.
  int Stop(int signal, double limit) {
    if (signal != 0 && pid > 0) kill(pid, signal);
    return WaitUntil(std::chrono::steady_clock::now() +
                     std::chrono::milliseconds((long)(limit * 1000)));
  }
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  }
  // Kills a child still running and reaps it.
  void Reap() {
    if (pid > 0) {
      kill(pid, SIGKILL);  // fails harmlessly when it has ended by itself
      waitpid(pid, nullptr, 0);
    }
    pid = -1;
  }
  ~ChildProcess() {
    Reap();
    if (pipe >= 0) close(pipe);
  }
};

#endif
