#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/run_journal.h"
#include "storage/file_system.h"
#include "storage/folder_tree.h"
#include "ui/dialog_view.h"
#include "ui/texts.h"

namespace quorvane {

class CQuorvaneDlg;

// What the start-up needs from the operating system it runs on: only what differs between them.
// A platform is made before anything is allocated and allocates nothing until asked, so that the
// start-up's one handler for a memory shortage covers all of it.
class Platform {
 public:
  virtual ~Platform() = default;

  // The language of the user's texts.
  virtual Language UserLanguage() = 0;
  // The arguments after the program's name, in UTF-8; they stay valid as long as the platform.
  virtual std::vector<std::string_view> Arguments() = 0;
  virtual Spelling spelling() const = 0;
  // What ends each line of output: "\n", or "\r\n" on Windows.
  virtual std::string_view line_end() const = 0;
  // The standard streams. `answering`: for a mode that answers on them (--where, --convert,
  // --help), which may reach a console the caller did not redirect them from; a start that runs
  // the drop folder or shows the dialog writes only where the caller sends them.
  virtual StandardStreams& Streams(bool answering) = 0;
  // Whether standard error is a terminal that a person reads.
  virtual bool ErrorIsTerminal() = 0;

  virtual FileSystem& Files() = 0;
  // Asked afresh on every call.
  virtual DocumentsLookup LookUpDocumentsFolder() = 0;
  // The program's own full path; empty when it cannot be found.
  virtual std::string ExecutablePath() = 0;
  // The name that captions message boxes: the executable's, without its extension.
  virtual std::string ApplicationName() = 0;

  // Tells a person why the program cannot start at all: in a message box where nothing else
  // would reach them (Windows), else on standard error. A calling program's start never comes
  // here: it is told on standard error alone.
  virtual void ReportStartupError(std::string_view text) = 0;
  // An automatic run's message, with no dialog on screen: in a message box of the desktop front
  // end, loaded for it, where one can be shown; else on standard error. Returns false when it went
  // to standard error.
  virtual bool ShowMessage(std::string_view text, MessageIcon icon) = 0;
  // The sound of an automatic run's outcome.
  virtual void PlaySound(MessageIcon sound) = 0;
  // The system's log, which keeps one record of every automatic run.
  virtual SystemLog& Log() = 0;
  // Milliseconds of a steady clock, for the time a run took.
  virtual uint64_t NowMs() = 0;
  // Loads the desktop front end and runs the dialog modally, its initialisation included;
  // returns the dialog's result, or nullopt when no window could be made.
  virtual std::optional<int> RunModal(CQuorvaneDlg& dialog) = 0;
};

}  // namespace quorvane
