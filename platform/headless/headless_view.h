#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/dialog_view.h"

namespace quorvane {

// A view with no window: the controls live in memory. The Linux executable runs the dialog's
// initialisation on it before any window exists, and a desktop front end builds its window from
// the state it leaves; tests drive the dialog through it. (An automatic start that shows no
// dialog has a view of its own, AutomaticRunView in app/.)
class HeadlessView : public DialogView {
 public:
  using MessageHandler = std::function<void(std::string_view text, MessageIcon icon)>;
  using BeepHandler = std::function<void(MessageIcon sound)>;

  // Starts with the controls of the main dialog template: visible, enabled, unticked, with their
  // template texts.
  HeadlessView();

  // Where message boxes go; by default to standard error, captioned with `application_name`.
  void SetMessageHandler(MessageHandler handler) { message_handler_ = std::move(handler); }
  void SetApplicationName(std::string name) { application_name_ = std::move(name); }
  // What makes the sounds; by default RingTerminalBell.
  void SetBeepHandler(BeepHandler handler) { beep_handler_ = std::move(handler); }

  const ControlState& control(int id) const;
  const std::map<int, ControlState>& controls() const { return controls_; }
  // The controls as plain data, for a front end that takes over from this view.
  std::vector<ControlSnapshot> Snapshot() const;
  bool ended() const { return ended_; }
  int end_result() const { return end_result_; }
  int wait_cursor_depth() const { return wait_cursor_depth_; }

  std::string_view GetText(int id) override;
  void SetText(int id, std::string_view text) override;
  bool IsChecked(int id) override;
  void SetChecked(int id, bool checked) override;
  bool Show(int id, bool visible) override;
  bool IsVisible(int id) override;
  void Enable(int id, bool enabled) override;
  void SetProgressRange(int id, uint64_t maximum) override;
  void SetProgressPos(int id, uint64_t position) override;
  void MessageBox(std::string_view text, MessageIcon icon) override;
  void Beep(MessageIcon sound) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  void DrainMessages() override {}
  void Pause(int) override {}  // nobody is watching the progress
  void SetIcons() override {}
  void ShowVersionDialog() override {}
  void EndDialog(int result) override;

 private:
  ControlState& at(int id);

  std::map<int, ControlState> controls_;
  MessageHandler message_handler_;
  BeepHandler beep_handler_;
  std::string application_name_ = "Quorvane";
  int wait_cursor_depth_ = 0;
  bool ended_ = false;
  int end_result_ = 0;
};

// Rings the bell of the terminal that standard error goes to; anywhere else it does nothing.
void RingTerminalBell();

// Writes a message box's text to standard error, on one line after the caption.
void PrintMessageToStandardError(std::string_view caption, std::string_view text, MessageIcon icon);

}  // namespace quorvane
