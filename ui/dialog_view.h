#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane {

// The icon of a message box, by the values a Windows message box takes; each box has one OK
// button and its answer is never used.
enum class MessageIcon : int { kError = 16, kInformation = 64 };

// Notification codes of control commands.
enum class Notification : int { kClicked = 0, kChanged = 0x0300 };

// One control as a window shows it, with its text as `Text`: owned where the state is kept
// (ControlState), a view of it in a snapshot (ControlSnapshot).
template <class Text>
struct ControlStateOf {
  Text text{};
  bool checked = false;
  bool visible = true;
  bool enabled = true;
  uint64_t range = 100;
  uint64_t position = 0;

  // The same control with its text as `Other`.
  template <class Other>
  ControlStateOf<Other> As() const {
    return {Other(text), checked, visible, enabled, range, position};
  }
};

// A control's state where it is kept: in the views that hold the controls in memory.
using ControlState = ControlStateOf<std::string>;

// A control's state handed to a front end module, which is built against another C++ runtime:
// plain data only, its text valid as long as the state it was taken from.
struct ControlSnapshot : ControlStateOf<std::string_view> {
  int id = 0;
};

// What the dialog logic asks of the window and its controls. Controls are named by their ids
// (ui/dialog_templates.h). A front end maps each call onto its widgets; the headless view keeps
// the controls in memory.
class DialogView {
 public:
  virtual ~DialogView() = default;

  // The whole text of an edit (or a button's caption), valid until the view's next call.
  virtual std::string_view GetText(int id) = 0;
  // Replaces the whole text; the empty text clears it.
  virtual void SetText(int id, std::string_view text) = 0;
  virtual bool IsChecked(int id) = 0;
  // Ticks or clears a check box without raising its click command.
  virtual void SetChecked(int id, bool checked) = 0;
  // Shows or hides a control; returns whether it was visible before the call.
  virtual bool Show(int id, bool visible) = 0;
  // Whether the control is visible (shown by itself; its window may still be hidden).
  virtual bool IsVisible(int id) = 0;
  virtual void Enable(int id, bool enabled) = 0;
  // The bar's range is 0 .. maximum, at its full value (it may exceed 65,535).
  virtual void SetProgressRange(int id, uint64_t maximum) = 0;
  virtual void SetProgressPos(int id, uint64_t position) = 0;

  // A modal message box owned by the dialog and captioned with the application's name; returns
  // when the user has dismissed it.
  virtual void MessageBox(std::string_view text, MessageIcon icon) = 0;
  virtual void Beep(MessageIcon sound) = 0;
  virtual void BeginWaitCursor() = 0;
  virtual void EndWaitCursor() = 0;
  // Handles the messages waiting for the dialog's windows, so that a long run stays responsive.
  virtual void DrainMessages() = 0;
  // Lets the user see the finished progress for a moment before the dialog ends.
  virtual void Pause(int milliseconds) = 0;
  // Sets the window's big and small icons.
  virtual void SetIcons() = 0;
  // Shows the version dialog modally.
  virtual void ShowVersionDialog() = 0;
  // Ends the modal run with this result.
  virtual void EndDialog(int result) = 0;
};

// The dialog as a front end sees it: the view it works through, and where the controls'
// notifications go. Calls through it need nothing of the caller's C++ runtime.
class DialogCommands {
 public:
  virtual void AttachView(DialogView& view) = 0;
  // Routes a control notification to its handler; false when nothing handles it.
  virtual bool OnCommand(int id, Notification code) = 0;

 protected:
  ~DialogCommands() = default;
};

}  // namespace quorvane
