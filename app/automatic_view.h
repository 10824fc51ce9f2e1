#pragma once

#include <map>
#include <string>
#include <string_view>

#include "app/platform.h"
#include "ui/dialog_view.h"

namespace quorvane {

// The view of an automatic start, which nobody sees: no window exists, so no toolkit is loaded.
// The dialog logic reads back what it set, as from a window's controls; a message box and the
// sound go to the platform, which loads the desktop front end only for a box.
class AutomaticRunView final : public DialogView {
 public:
  explicit AutomaticRunView(Platform& platform) : platform_(platform) {}

  bool ended() const { return ended_; }
  // Whether a message went to standard error, where a terminal has read it already.
  bool told_on_standard_error() const { return told_on_standard_error_; }

  std::string_view GetText(int id) override { return controls_[id].text; }
  void SetText(int id, std::string_view text) override { controls_[id].text = text; }
  bool IsChecked(int id) override { return controls_[id].checked; }
  void SetChecked(int id, bool checked) override { controls_[id].checked = checked; }
  bool Show(int id, bool visible) override;
  bool IsVisible(int id) override { return controls_[id].visible; }
  void Enable(int, bool) override {}
  void SetProgressRange(int, uint64_t) override {}
  void SetProgressPos(int, uint64_t) override {}
  void MessageBox(std::string_view text, MessageIcon icon) override;
  void Beep(MessageIcon sound) override { platform_.PlaySound(sound); }
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}
  void DrainMessages() override {}
  void Pause(int) override {}  // nobody is watching the progress
  void SetIcons() override {}
  void ShowVersionDialog() override {}
  void EndDialog(int) override { ended_ = true; }

 private:
  Platform& platform_;
  std::map<int, ControlState> controls_;
  bool ended_ = false;
  bool told_on_standard_error_ = false;
};

}  // namespace quorvane
