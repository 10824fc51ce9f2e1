#pragma once

#include <span>
#include <string_view>

#include "ui/dialog_view.h"

namespace quorvane {

// A desktop front end, built as a module of its own and loaded only when a window has to be
// shown, so that automatic runs never load a GUI toolkit. The module is built against the shared
// C++ runtime that its toolkit uses, the executable carries a runtime of its own: everything that
// crosses between them is plain data or an interface object (DialogCommands, DialogView), so the
// module resolves no symbol of the executable and the two runtimes never meet.
class DesktopFrontEnd {
 public:
  // Builds the main dialog's window from the controls as the dialog's initialisation left them,
  // becomes the dialog's view and runs it modally; returns the dialog's result. Message boxes are
  // captioned with `application_name`.
  virtual int RunModal(DialogCommands& dialog, std::span<const ControlSnapshot> controls,
                       std::string_view application_name) = 0;
  // A message box with no dialog on screen (automatic mode with a display).
  virtual void ShowMessageBox(std::string_view caption, std::string_view text,
                              MessageIcon icon) = 0;

 protected:
  ~DesktopFrontEnd() = default;  // the module owns it for the life of the process
};

}  // namespace quorvane

// The two symbols a front end module exports. The first starts it: `program_path` is the
// executable's own; nullptr when it cannot start (no display, no usable platform plugin). The
// second then says why, in words for the user.
extern "C" quorvane::DesktopFrontEnd* QuorvaneCreateDesktopFrontEnd(const char* program_path);
extern "C" const char* QuorvaneDesktopFrontEndError();
inline constexpr const char* kDesktopFrontEndSymbol = "QuorvaneCreateDesktopFrontEnd";
inline constexpr const char* kDesktopFrontEndErrorSymbol = "QuorvaneDesktopFrontEndError";
