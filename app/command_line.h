#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace quorvane {

// What the command line of the Linux executable asks for. Calling programs start Quorvane with
// no arguments at all; the options are for people and follow the GNU conventions.
struct CommandLine {
  enum class Action {
    kRun,         // start as usual
    kHelp,        // --help: print the usage and end
    kVersion,     // --version: print the version and end
    kUsageError,  // an argument that is not understood: say so and end with status 2
  };
  Action action = Action::kRun;
  bool dialog = false;  // --dialog: a person's start, which wants the dialog
  std::string error;    // for kUsageError: the one line that says what was wrong
};

CommandLine ParseCommandLine(int argc, const char* const* argv);

// Answers every action but kRun: the usage or the version on `out`, an error and the usage hint
// on `error_out`. Returns the exit status; a help or version text that could not be written
// fails the start rather than report success.
int AnswerCommandLine(const CommandLine& command_line, std::FILE* out, std::FILE* error_out);

// The text of --help.
std::string_view UsageText();

}  // namespace quorvane
