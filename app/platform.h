#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "storage/file_system.h"

namespace quorvane {

class CQuorvaneDlg;

// What the start-up needs from the operating system it runs on.
class Platform {
 public:
  virtual ~Platform() = default;
  virtual FileSystem& Files() = 0;
  // Asked afresh on every call.
  virtual std::string DocumentsFolder() = 0;
  // The program's own full path; empty when it cannot be found.
  virtual std::string ExecutablePath() = 0;
  // Tells the user why the program cannot start at all (on standard error, or in a message box
  // where there is nothing else to read it).
  virtual void ReportStartupError(std::string_view text) = 0;
  // Runs the dialog modally (its initialisation included) and returns its result; nullopt when
  // no window could be made for a dialog that had to be shown.
  virtual std::optional<int> RunModal(CQuorvaneDlg& dialog) = 0;
};

}  // namespace quorvane
