#pragma once

#include <string>
#include <string_view>

#include "app/command_line.h"
#include "app/platform.h"
#include "ui/outcome_messages.h"
#include "ui/quorvane_dlg.h"

namespace quorvane {

// The application's name, which captions every message box: the executable's file name without
// its extension ("C:\\Tools\\Renamed.exe" gives "Renamed"), or `fallback` when there is none.
std::string ApplicationName(std::string_view executable_path, std::string_view fallback);

// How the command line asks the program to start: --batch runs the drop folder for a calling
// program, --dialog opens the dialog for a person, and no option lets the drop folder decide.
StartMode StartModeFor(const CommandLine& command_line);

// The application, and the one start-up that both executables share: the command line, the
// answering modes, the folders, the drop folder's run, and only then, when something will be
// shown, the desktop front end. Its platform supplies only what differs between systems.
class CQuorvaneApp {
 public:
  explicit CQuorvaneApp(Platform& platform) : platform_(platform) {}

  // The whole life of the process; returns its exit status (see RunOutcome). A memory shortage
  // anywhere in it ends it with 20 and a line on standard error.
  int Run();

 private:
  int Start();
  // After the command line: prepares the Documents folder, then runs the drop folder or the
  // dialog once.
  int InitInstance(StartMode start_mode);
  // A start that cannot find the Documents folder: told as the start mode allows.
  int NoDocumentsFolder(StartMode start_mode, const DocumentsLookup& lookup);
  // Every automatic run ends here, whoever started it and however it went: the one place that
  // knows its outcome. It tells the caller what the start mode allows, and the system's log
  // always.
  int EndAutomaticRun(StartMode start_mode, RunOutcome outcome, const RunDetails& details);
  // The run's record in the system's log, composed only where a log is there to take it.
  void Journal(const RunRecord& record);
  // Says that memory ran out, allocating nothing.
  void ReportOutOfMemory();

  Platform& platform_;
  bool answering_ = false;               // the command line asked for an answering mode
  bool told_on_standard_error_ = false;  // an automatic run's message went to standard error
  uint64_t started_ms_ = 0;              // when the automatic run began
};

}  // namespace quorvane
