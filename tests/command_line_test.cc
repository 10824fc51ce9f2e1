// The Linux command line: what each argument list asks for, and how it is answered.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ui/dialog_templates.h"
#include "version.h"

namespace quorvane {
namespace {

using Action = CommandLine::Action;

TEST(CommandLineTest, EachArgumentListAsksForOneAction) {
  const struct {
    std::vector<const char*> arguments;  // after the program name
    Action action;
    bool dialog;
    const char* error;
  } rows[] = {
      /* 0*/ {{}, Action::kRun, false, ""},
      /* 1*/ {{"--dialog"}, Action::kRun, true, ""},
      /* 2*/ {{"--dialog", "--dialog"}, Action::kRun, true, ""},
      /* 3*/ {{"--help"}, Action::kHelp, false, ""},
      /* 4*/ {{"--version"}, Action::kVersion, false, ""},
      /* 5*/ {{"--version", "--help"}, Action::kHelp, false, ""},
      /* 6*/ {{"--dialog", "--version"}, Action::kVersion, true, ""},
      /* 7*/ {{"--frobnicate"}, Action::kUsageError, false, "unrecognized option '--frobnicate'"},
      /* 8*/ {{"--help", "-h"}, Action::kUsageError, false, "unrecognized option '-h'"},
      /* 9*/ {{"--help=all"}, Action::kUsageError, false, "unrecognized option '--help=all'"},
      /*10*/ {{"-"}, Action::kUsageError, false, "unrecognized option '-'"},
      /*11*/ {{"Bintake.tbin"}, Action::kUsageError, false, "unexpected argument 'Bintake.tbin'"},
      /*12*/ {{""}, Action::kUsageError, false, "unexpected argument ''"},
      /*13*/ {{"/dialog"}, Action::kUsageError, false, "unexpected argument '/dialog'"},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    std::vector<const char*> argv = {"quorvane"};
    argv.insert(argv.end(), rows[row].arguments.begin(), rows[row].arguments.end());
    const CommandLine parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(parsed.action, rows[row].action);
    EXPECT_EQ(parsed.dialog, rows[row].dialog);
    EXPECT_EQ(parsed.error, rows[row].error);
  }
}

// A help or version text that cannot be written is a failed start, not a success.
TEST(CommandLineTest, AnswerFailsWhenItCannotBeWritten) {
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  for (Action action : {Action::kHelp, Action::kVersion}) {
    CommandLine command_line;
    command_line.action = action;
    EXPECT_EQ(AnswerCommandLine(command_line, full, stderr), 1);
  }
  std::fclose(full);
}

// The version dialog shows the first three parts of the one version the build sets.
TEST(CommandLineTest, VersionDialogLineMatchesTheBuildVersion) {
  const std::string expected = "Quorvane\u3000Ver" + std::to_string(QUORVANE_VERSION_MAJOR) + "." +
                               std::to_string(QUORVANE_VERSION_MINOR) + "." +
                               std::to_string(QUORVANE_VERSION_PATCH);
  EXPECT_EQ(std::string(VersionDialogTemplate().controls[1].text), expected);
}

}  // namespace
}  // namespace quorvane
