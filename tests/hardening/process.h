#pragma once

// Starts the real executable the way a calling program does: in a throw-away HOME, without any
// display, and waits for it with a time limit so that a hang fails the test instead of the suite.

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

namespace quorvane::testing {

inline const char* QuorvaneExecutable() { return QUORVANE_EXECUTABLE; }

// The environment of a headless run: HOME, no DISPLAY and no XDG_CONFIG_HOME, plus `extra`
// ("NAME=value" entries). Sanitizer options are passed on so that a sanitizer build reports the
// same way in the child.
inline std::vector<std::string> HeadlessEnvironment(const std::string& home,
                                                    std::vector<std::string> extra = {}) {
  std::vector<std::string> env = {"HOME=" + home, "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  for (std::string& entry : extra) env.push_back(std::move(entry));
  return env;
}

// Starts the executable with `env`; standard error goes to `stderr_path`. Returns the child's id,
// or -1 when it could not be started.
inline pid_t Spawn(const std::vector<std::string>& env,
                   const std::string& stderr_path = "/dev/null",
                   const std::string& executable = QuorvaneExecutable()) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderr_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> envp;
  for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(executable.c_str()), nullptr};
  pid_t pid = -1;
  int error = posix_spawn(&pid, executable.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

struct Ending {
  bool exited = false;  // ended by itself; `code` is its exit status
  int code = -1;
  int signal = 0;     // ended by this signal
  bool hung = false;  // still running at the time limit; it was killed
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

// Starts the executable and waits for it to end.
inline Ending RunQuorvane(const std::vector<std::string>& env,
                          const std::string& stderr_path = "/dev/null") {
  pid_t pid = Spawn(env, stderr_path);
  if (pid < 0) return {};
  return WaitFor(pid);
}

}  // namespace quorvane::testing
