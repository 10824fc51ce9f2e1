#pragma once

#include <string>
#include <string_view>

#include "app/command_line.h"
#include "app/platform.h"
#include "ui/quorvane_dlg.h"
#include "ui/run_outcome.h"

namespace quorvane {

// The application's name, which captions every message box: the executable's file name without
// its extension ("C:\\Tools\\Renamed.exe" gives "Renamed"), or `fallback` when there is none.
std::string ApplicationName(std::string_view executable_path, std::string_view fallback);

// How the command line asks the program to start: --batch runs the drop folder for a calling
// program, --dialog opens the dialog for a person, and no option lets the drop folder decide.
StartMode StartModeFor(const CommandLine& command_line);

// The application: one modal run of the main dialog is the whole life of the program.
class CQuorvaneApp {
 public:
  explicit CQuorvaneApp(Platform& platform, StartMode start_mode = StartMode::kDropFolderDecides)
      : platform_(platform), start_mode_(start_mode) {}

  // Prepares the Documents folder, runs the main dialog once and returns the process exit
  // status (see RunOutcome).
  int InitInstance();
  // What the drop-folder run of a --batch start had to say beside its status.
  const RunDetails& run_details() const { return run_details_; }

 private:
  Platform& platform_;
  StartMode start_mode_;
  RunDetails run_details_;
};

}  // namespace quorvane
