#pragma once

#include <string_view>

#include "ui/dialog_view.h"

namespace quorvane {

class CQuorvaneDlg;
class HeadlessView;

// A desktop front end, built as a module of its own and loaded only when a window has to be
// shown, so that automatic runs never load a GUI toolkit.
class DesktopFrontEnd {
 public:
  virtual ~DesktopFrontEnd() = default;
  // Builds the main dialog's window from the controls as the dialog's initialisation left them,
  // becomes the dialog's view and runs it modally; returns the dialog's result. Message boxes are
  // captioned with `application_name`.
  virtual int RunModal(CQuorvaneDlg& dialog, const HeadlessView& controls,
                       std::string_view application_name) = 0;
  // A message box with no dialog on screen (automatic mode with a display).
  virtual void ShowMessageBox(std::string_view caption, std::string_view text,
                              MessageIcon icon) = 0;
};

}  // namespace quorvane

// The one symbol a front end module exports. Returns nullptr when it cannot start (no display).
extern "C" quorvane::DesktopFrontEnd* QuorvaneCreateDesktopFrontEnd();
inline constexpr const char* kDesktopFrontEndSymbol = "QuorvaneCreateDesktopFrontEnd";
