#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/temp_home.h"

namespace quorvane::testing {

struct ProcessResult {
  int exit_status = -1;  // -1 when it did not exit by itself in time, or died of a signal
  std::string standard_output;
  std::string standard_error;
};

// Variables set for one run, on top of what RunProgram leaves.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Runs the program as a calling program would: by its full path, no arguments, with HOME at
// `home`, no display and no XDG overrides. A person's start adds `arguments`; `environment` is
// set on top (DISPLAY, say). Never waits longer than `timeout`.
inline ProcessResult RunProgram(const std::string& program, const std::string& home,
                                const std::vector<std::string>& arguments = {},
                                const Environment& environment = {},
                                std::chrono::seconds timeout = std::chrono::seconds(20)) {
  TempFolder capture;
  const std::string output_path = capture / "stdout";
  const std::string error_path = capture / "stderr";
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = ::fork();
  if (child == 0) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_CONFIG_HOME"}) {
      ::unsetenv(name);
    }
    ::setenv("HOME", home.c_str(), 1);
    for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
    int error = ::open(error_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(error, STDERR_FILENO);
    int output = ::open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(output, STDOUT_FILENO);
    int nothing = ::open("/dev/null", O_RDWR);
    ::dup2(nothing, STDIN_FILENO);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ProcessResult result;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      result.standard_error = ReadFile(error_path);
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  result.standard_output = ReadFile(output_path);
  result.standard_error = ReadFile(error_path);
  return result;
}

}  // namespace quorvane::testing
