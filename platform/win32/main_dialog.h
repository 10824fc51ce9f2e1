#pragma once

#include "storage/windows_api.h"

#include <optional>
#include <string>

#include "ui/dialog_view.h"
#include "ui/keyboard_filter.h"
#include "ui/progress_bar.h"

namespace quorvane {

class CQuorvaneDlg;

namespace win32 {

// What the keyboard filter (ui/keyboard_filter.h) sees of a window message.
inline MessageKind KindOf(const MSG& message) {
  switch (message.message) {
    case WM_KEYDOWN:
      return MessageKind::kKeyDown;
    case WM_KEYUP:
      return MessageKind::kKeyUp;
    case WM_CHAR:
      return MessageKind::kCharacter;
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SYSCHAR:
      return MessageKind::kSystemKey;
    default:
      return MessageKind::kOther;
  }
}

// The main dialog as a Win32 window built from dialog resource 102, and the view through which
// CQuorvaneDlg works it. The modal run is Quorvane's own loop around a modeless dialog, so that
// every message meets the keyboard filter before the dialog manager, as it would under the
// framework's modal loop. Tab and Shift+Tab move the focus, so that the dialog can be used
// without a mouse; Enter and Escape never close it.
class MainDialog final : public DialogView {
 public:
  // `caption` titles the message boxes: the executable's name without its extension.
  MainDialog(HINSTANCE instance, CQuorvaneDlg& dialog, std::wstring caption);
  ~MainDialog() override;

  // Creates the window (its initialisation runs CQuorvaneDlg::OnInitDialog before anything is
  // shown), runs it until it ends and returns its result; nullopt when no window could be made.
  std::optional<int> RunModal();

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
  void DrainMessages() override;
  void Pause(int milliseconds) override;
  void SetIcons() override;
  void ShowVersionDialog() override;
  void EndDialog(int result) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR OnMessage(UINT message, WPARAM wparam, LPARAM lparam);
  bool OnPaint();
  bool OnNotify(const NMHDR& header);
  bool OnSetCursor();
  // Hands one message on: through the keyboard filter, the dialog manager, then dispatched.
  void Pump(MSG& message);
  // The key-downs that the filter handles itself, which go no further: Tab and Shift+Tab move
  // the focus, and Escape in an edit is dropped. False for every other key.
  bool TakeKeyDown(const MSG& message);
  HWND Control(int id) const { return ::GetDlgItem(window_, id); }

  HINSTANCE instance_;
  CQuorvaneDlg& dialog_;
  std::wstring caption_;
  HICON icon_;
  HWND window_ = nullptr;
  bool ended_ = false;
  int result_ = 0;
  int wait_cursor_depth_ = 0;
  BarScale progress_scale_;
  std::string text_;  // the last text GetText handed out
};

}  // namespace win32
}  // namespace quorvane
