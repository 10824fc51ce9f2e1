#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/headless/headless_view.h"
#include "ui/quorvane_dlg.h"

namespace quorvane::testing {

// A message box the dialog showed; the test answers it simply by reading it.
struct ShownMessage {
  std::string text;
  MessageIcon icon;
  bool operator==(const ShownMessage&) const = default;
};

// The headless view with every update written down in order, as "Operation(id,value)" lines, so
// a test can compare whole sequences. Message boxes are answered at once and kept.
class RecordingView : public DialogView {
 public:
  HeadlessView& state() { return state_; }
  const std::vector<std::string>& log() const { return log_; }
  const std::vector<ShownMessage>& messages() const { return messages_; }
  int beeps() const { return beeps_; }
  void ClearLog() {
    log_.clear();
    messages_.clear();
  }

  // The user clicks a check box: it toggles its own tick first, then its command runs.
  void ClickCheckBox(CQuorvaneDlg& dialog, int id) {
    state_.SetChecked(id, !state_.IsChecked(id));
    dialog.OnCommand(id, Notification::kClicked);
  }
  // The user types or pastes: the text changes, then the change command runs.
  void TypeInto(CQuorvaneDlg& dialog, int id, const std::string& text) {
    state_.SetText(id, text);
    dialog.OnCommand(id, Notification::kChanged);
  }

  std::string_view GetText(int id) override { return state_.GetText(id); }
  void SetText(int id, std::string_view text) override {
    Note("SetText", id, std::string(text));
    state_.SetText(id, text);
  }
  bool IsChecked(int id) override { return state_.IsChecked(id); }
  void SetChecked(int id, bool checked) override {
    Note("SetChecked", id, checked ? "1" : "0");
    state_.SetChecked(id, checked);
  }
  bool Show(int id, bool visible) override {
    Note("Show", id, visible ? "1" : "0");
    return state_.Show(id, visible);
  }
  bool IsVisible(int id) override { return state_.IsVisible(id); }
  void Enable(int id, bool enabled) override {
    Note("Enable", id, enabled ? "1" : "0");
    state_.Enable(id, enabled);
  }
  void SetProgressRange(int id, uint64_t maximum) override {
    Note("SetRange", id, std::to_string(maximum));
    state_.SetProgressRange(id, maximum);
  }
  void SetProgressPos(int id, uint64_t position) override {
    Note("SetPos", id, std::to_string(position));
    state_.SetProgressPos(id, position);
  }
  void MessageBox(std::string_view text, MessageIcon icon) override {
    Note("MessageBox", static_cast<int>(icon), std::string(text));
    messages_.push_back({std::string(text), icon});
  }
  void Beep(MessageIcon sound) override {
    Note("Beep", static_cast<int>(sound), "");
    ++beeps_;
  }
  void BeginWaitCursor() override {
    log_.push_back("BeginWaitCursor");
    state_.BeginWaitCursor();
  }
  void EndWaitCursor() override {
    log_.push_back("EndWaitCursor");
    state_.EndWaitCursor();
  }
  void DrainMessages() override { log_.push_back("Drain"); }
  void Pause(int milliseconds) override { Note("Pause", milliseconds, ""); }
  void SetIcons() override { log_.push_back("SetIcons"); }
  void ShowVersionDialog() override { log_.push_back("ShowVersionDialog"); }
  void EndDialog(int result) override {
    Note("EndDialog", result, "");
    state_.EndDialog(result);
  }

 private:
  void Note(const char* operation, int id, const std::string& value) {
    log_.push_back(std::string(operation) + "(" + std::to_string(id) +
                   (value.empty() ? "" : "," + value) + ")");
  }

  HeadlessView state_;
  std::vector<std::string> log_;
  std::vector<ShownMessage> messages_;
  int beeps_ = 0;
};

}  // namespace quorvane::testing
