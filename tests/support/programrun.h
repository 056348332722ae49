// The program itself run as its users run it: a copy of the executable in a
// directory of its own with its settings file beside it, started with the
// console going to a file. Header only: each test program that includes it
// defines DCFSYNC_PATH, the program's path in the build (and DCFSIM_PATH for
// the simulator).
//
// Every run drops the privilege to set the clock when started as root, so no
// run can change the machine's time.
#ifndef DCFSYNC_TESTS_PROGRAMRUN_H
#define DCFSYNC_TESTS_PROGRAMRUN_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "support/child.h"
#include "support/simulator.h"
#include "support/testutil.h"

// German legal time, so the module's time and the PC's agree to the
// fraction of a second the exchange takes.
const char GermanZone[] = "TZ=CET-1CEST,M3.5.0,M10.5.0/3";

// The user an unprivileged run takes when the tests run as root.
const int UnprivilegedId = 65534;

// The line without its "dd.mm.yyyy hh:mm:ss " prefix; fails the test when the
// prefix is missing.
inline std::string Message(const std::string& line) { return StripTimestamp(line); }

inline bool Matches(const std::string& text, const char* pattern) {
  return std::regex_match(text, std::regex(pattern));
}

inline int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// One run of the program from its own directory.
struct ProgramRun : ChildProcess {
  std::string dir;  // holds dcfsync, dcfsync.ini, .log, .dat, out.txt, err.txt
  int user = -1;  // run as this user and group when started as root; -1: as is
  // Start the program with standard output and error closed (standard input
  // on /dev/null), as some schedulers do; out.txt and err.txt stay empty.
  bool closedStreams = false;
  // A fresh directory where + name with a copy of the executable (a link
  // would resolve to the build's directory, where the program would look
  // for its files). Runs at the same time need directories of their own.
  void Prepare(const std::string& where, const std::string& name = "prog") {
    dir = where + name + "/";
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    mkdir(where.c_str(), 0755);
    ASSERT_EQ(0, mkdir(dir.c_str(), 0755)) << dir;
    std::string program = ReadFile(DCFSYNC_PATH);
    ASSERT_FALSE(program.empty()) << DCFSYNC_PATH;
    std::lock_guard<std::mutex> hold(SpawnLock());
    int fd = open((dir + "dcfsync").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    ASSERT_GE(fd, 0) << dir;
    bool written = write(fd, program.data(), program.size()) == (ssize_t)program.size();
    ASSERT_EQ(0, close(fd));
    ASSERT_TRUE(written);
  }
  void Settings(const std::string& text) { WriteFile(dir + "dcfsync.ini", "[init]\n" + text); }

  // Starts the program by its full path, or by its bare name found through
  // PATH from another working directory; extra holds NAME=value entries (a
  // TZ among them takes the place of German legal time).
  bool Start(std::vector<std::string> extra = {}, bool bareName = false) {
    std::vector<std::string> env;
    std::vector<std::string> replaced = {"TZ=", "PATH="};
    for (const std::string& e : extra) replaced.push_back(e.substr(0, e.find('=') + 1));
    for (char** e = environ; *e != nullptr; ++e) {
      std::string entry = *e;
      bool keep = true;
      for (const std::string& name : replaced) keep = keep && entry.rfind(name, 0) != 0;
      if (keep) env.push_back(entry);
    }
    bool zoneGiven = false;
    for (const std::string& e : extra) zoneGiven = zoneGiven || e.rfind("TZ=", 0) == 0;
    if (!zoneGiven) env.push_back(GermanZone);
    env.push_back("PATH=" + dir.substr(0, dir.size() - 1) + ":/usr/bin:/bin");
    for (const std::string& e : extra) env.push_back(e);

    std::vector<std::string> args;
    if (geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0) {
      // Without CAP_SYS_TIME even a call that slipped past the stub fails.
      args = {"/usr/bin/setpriv", "--inh-caps=-sys_time", "--bounding-set=-sys_time"};
      if (user >= 0) {
        args.push_back("--reuid=" + std::to_string(user));
        args.push_back("--regid=" + std::to_string(user));
        args.push_back("--clear-groups");
      }
    } else {
      args = {"/usr/bin/env"};
    }
    args.push_back(bareName ? "dcfsync" : dir + "dcfsync");

    ChildStreams streams;
    streams.output = closedStreams ? "" : dir + "out.txt";
    streams.errors = closedStreams ? "" : dir + "err.txt";
    if (closedStreams) {
      WriteFile(dir + "out.txt", "");
      WriteFile(dir + "err.txt", "");
    }
    if (bareName) streams.directory = "/";
    return ChildProcess::Start(args, env, streams);
  }

  // Exit status (128 + signal when killed); -1 when the program has not
  // ended within limit seconds of its start.
  int Wait(double limit = 30) { return ChildProcess::Wait(limit); }
  // Waits until the named file holds text at least times; false after limit s.
  bool AwaitText(const std::string& file, const std::string& text, int times, double limit) {
    for (double waited = 0; waited < limit; waited += 0.05) {
      if (Count(ReadFile(dir + file), text) >= times) return true;
      usleep(50000);
    }
    return false;
  }
  std::string Output() const { return ReadFile(dir + "out.txt"); }
  std::string Errors() const { return ReadFile(dir + "err.txt"); }
  std::string Log() const { return ReadFile(dir + "dcfsync.log"); }
  std::string Data() const { return ReadFile(dir + "dcfsync.dat"); }
};

#endif
