#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/qt/template_widgets.h"
#include "ui/dialog_view.h"
#include "ui/progress_bar.h"

class QMessageBox;

namespace quorvane::qt {

// Runs a message box modally. Tests replace it so that they answer every box themselves; an
// empty runner restores the real modal run.
using MessageBoxRunner = std::function<void(QMessageBox& box)>;
void SetMessageBoxRunner(MessageBoxRunner runner);

// A modal message box with one OK button, the given caption and the error or information icon,
// owned by `owner` (a top-level box when it is null).
void ShowMessageBox(QWidget* owner, const QString& caption, std::string_view text,
                    MessageIcon icon);

// The main dialog's window. Its keyboard interface never sees a key press: Enter and Escape do
// not close it and the arrow keys do not move the focus, so those keys act only on the control
// that has the focus. Tab and Shift+Tab are the exception: they move the focus through the tab
// stops in template order from every control, the multi-line fields included, so that the dialog
// can be used without a mouse. The focus is always drawn. A close request from the window system
// arrives as the cancel command. It gives itself the application icon after its first picture,
// and then does whatever else was left for that moment (AfterFirstPicture).
class MainDialogWindow : public QDialog {
 public:
  explicit MainDialogWindow(std::function<void()> close_request);

  // Lets the window see `control`'s Tab keys before the control does.
  void TakeTabFrom(QWidget& control);
  // Runs `work` once the window's first picture is on the screen, so that it delays neither.
  void AfterFirstPicture(std::function<void()> work) {
    after_first_picture_.push_back(std::move(work));
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  std::function<void()> close_request_;
  bool first_picture_shown_ = false;
  std::vector<std::function<void()>> after_first_picture_;
};

// The main dialog on screen: the window built from the main template, taking over the controls
// as the dialog's initialisation left them.
class QtDialogView final : public DialogView {
 public:
  QtDialogView(DialogCommands& dialog, std::span<const ControlSnapshot> controls,
               QString application_name);
  ~QtDialogView() override;

  MainDialogWindow& window() { return window_; }
  QWidget* widget(int id) const;
  // The font and base units the window is laid out with.
  const DialogFont& font() const { return font_; }
  // Shows the window and runs it until the dialog ends; returns the dialog's result.
  int RunModal();

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
  struct Progress {
    BarScale scale;
    uint64_t position = 0;
  };
  // Names the fields that have no caption of their own, for screen readers.
  void NameForAssistiveTechnologies(const std::vector<BuiltControl>& built);
  void TakeOver(std::span<const ControlSnapshot> controls);
  // Lays the window out from the measures of an earlier start where the memo has them, else from
  // its text measured now. After the first picture it keeps what it measured, or measures
  // again and lays itself out anew where the memo no longer holds.
  std::vector<BuiltControl> LayOut(const DialogTemplate& main);

  DialogCommands& dialog_;
  QString application_name_;
  MainDialogWindow window_;
  DialogFont font_;
  LayoutMemo memo_;
  std::map<int, QWidget*> widgets_;
  std::map<int, Progress> progress_;
  int wait_cursor_depth_ = 0;
  bool version_dialog_open_ = false;
  std::string text_;  // the last text GetText handed out
};

// The application icon in every size it comes in.
QIcon ApplicationIcon();

}  // namespace quorvane::qt
