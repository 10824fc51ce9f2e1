#pragma once

// Starts a program the way a calling program starts quorvane: by its full path, in a throw-away
// HOME, without any display, and waits for it with a time limit so that a hang fails the test
// instead of the suite.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_home.h"

namespace quorvane::testing {

#ifdef QUORVANE_EXECUTABLE
inline const char* QuorvaneExecutable() { return QUORVANE_EXECUTABLE; }
#endif

// "NAME=value" entries.
using Environment = std::vector<std::string>;

// The environment of a headless start: HOME, a PATH and a UTF-8 locale, no DISPLAY and no
// XDG_CONFIG_HOME, then `extra`. Sanitizer options are passed on so that a sanitizer build
// reports the same way in the child.
inline Environment HeadlessEnvironment(const std::string& home, Environment extra = {}) {
  Environment env = {"HOME=" + home, "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  for (std::string& entry : extra) env.push_back(std::move(entry));
  return env;
}

// Standard error as a caller may leave it: closed, or a pipe whose reader has gone.
inline constexpr const char* kClosedStream = "";
inline constexpr const char* kBrokenPipe = "|";

// What to start: the program, its arguments and its whole environment; standard output and
// error go to the named files (or as above).
struct Launch {
  std::string program;
  std::vector<std::string> arguments;
  Environment environment;
  std::string standard_output = "/dev/null";
  std::string standard_error = "/dev/null";
};

// Starts it with standard input from /dev/null. Returns the child's id, or -1 when it could not
// be started.
inline pid_t Spawn(const Launch& launch) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  int broken_pipes[2] = {-1, -1};  // the write ends handed to the child
  const auto route = [&actions, &broken_pipes](int fd, const std::string& path) {
    int pipe_ends[2];
    if (path == kClosedStream) {
      posix_spawn_file_actions_addclose(&actions, fd);
    } else if (path == kBrokenPipe && ::pipe(pipe_ends) == 0) {
      ::close(pipe_ends[0]);
      posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], fd);
      broken_pipes[fd - STDOUT_FILENO] = pipe_ends[1];
    } else {
      posix_spawn_file_actions_addopen(&actions, fd, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    }
  };
  route(STDOUT_FILENO, launch.standard_output);
  route(STDERR_FILENO, launch.standard_error);
  std::vector<char*> argv = {const_cast<char*>(launch.program.c_str())};
  for (const std::string& argument : launch.arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& entry : launch.environment) {
    envp.push_back(const_cast<char*>(entry.c_str()));
  }
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int error =
      posix_spawn(&pid, launch.program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  for (int fd : broken_pipes) {
    if (fd >= 0) ::close(fd);
  }
  return error == 0 ? pid : -1;
}

struct Ending {
  bool exited = false;          // ended by itself; `code` is its exit status
  int code = -1;                // -1 unless it ended by itself
  int signal = 0;               // ended by this signal
  bool hung = false;            // still running at the time limit; it was killed
  std::string standard_output;  // what RunProgram captured
  std::string standard_error;
};

// Waits for the child; after `limit` it is killed and reported as hung.
inline Ending WaitFor(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  Ending ending;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (true) {
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0) return ending;
    if (std::chrono::steady_clock::now() >= deadline) {
      ending.hung = true;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (WIFEXITED(status)) {
    ending.exited = true;
    ending.code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    ending.signal = WTERMSIG(status);
  }
  return ending;
}

// Runs `program` with `arguments` in a headless start at `home` (plus `extra` variables) and
// returns how it ended with what it printed.
inline Ending RunProgram(const std::string& program, const std::string& home,
                         std::vector<std::string> arguments = {}, Environment extra = {},
                         std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  TempFolder capture;
  Launch launch{program, std::move(arguments), HeadlessEnvironment(home, std::move(extra)),
                capture / "stdout", capture / "stderr"};
  const pid_t pid = Spawn(launch);
  if (pid < 0) return {};
  Ending ending = WaitFor(pid, limit);
  ending.standard_output = ReadFile(launch.standard_output);
  ending.standard_error = ReadFile(launch.standard_error);
  return ending;
}

#ifdef QUORVANE_EXECUTABLE
// Starts quorvane with no arguments and the whole environment `env`, and waits for it to end.
inline Ending RunQuorvane(const Environment& env, const std::string& stderr_path = "/dev/null") {
  const pid_t pid = Spawn({QuorvaneExecutable(), {}, env, "/dev/null", stderr_path});
  if (pid < 0) return {};
  return WaitFor(pid);
}
#endif

}  // namespace quorvane::testing
