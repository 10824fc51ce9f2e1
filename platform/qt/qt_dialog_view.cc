#include "platform/qt/qt_dialog_view.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QIcon>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <stdexcept>
#include <utility>

#include "ui/keyboard_filter.h"

namespace quorvane::qt {
namespace {

MessageBoxRunner& Runner() {
  static MessageBoxRunner runner;
  return runner;
}

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The first control that takes the focus when the dialog opens: in template order, the first
// visible, enabled control with a tab stop. For the main dialog that is the exit button, so Space
// presses it.
QWidget* FirstTabStop(const std::vector<BuiltControl>& built) {
  for (const BuiltControl& entry : built) {
    if ((entry.control->style & style::kTabStop) != 0 && !entry.widget->isHidden() &&
        entry.widget->isEnabled()) {
      return entry.widget;
    }
  }
  return nullptr;
}

}  // namespace

void SetMessageBoxRunner(MessageBoxRunner runner) { Runner() = std::move(runner); }

void ShowMessageBox(QWidget* owner, const QString& caption, std::string_view text,
                    MessageIcon icon) {
  QString body = FromUtf8(text);
  body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(icon == MessageIcon::kError ? QMessageBox::Critical : QMessageBox::Information,
                  caption, body, QMessageBox::Ok, owner);
  box.setWindowModality(Qt::ApplicationModal);
  if (owner == nullptr) box.setWindowIcon(ApplicationIcon());
  if (Runner()) {
    Runner()(box);
  } else {
    box.exec();
  }
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 256}) {
    // Read as the PNG it is: left to guess, Qt would offer the file to every image plugin
    // installed (gif, ico, jpeg and the libraries behind them) before its own PNG reader.
    QImageReader reader(QStringLiteral(":/icons/quorvane-%1.png").arg(size), "png");
    reader.setAutoDetectImageFormat(false);
    icon.addPixmap(QPixmap::fromImage(reader.read()));
  }
  return icon;
}

MainDialogWindow::MainDialogWindow(std::function<void()> close_request)
    : QDialog(nullptr,
              // An application window of its own (its own taskbar entry) with a caption bar but
              // no system menu, so no close box, and a fixed size.
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      close_request_(std::move(close_request)) {}

void MainDialogWindow::keyPressEvent(QKeyEvent* event) {
  // A key press that the focused control leaves alone ends here instead of reaching the dialog's
  // Enter and Escape handling.
  if (OfferedToDialogManager(MessageKind::kKeyDown)) {
    QDialog::keyPressEvent(event);
  } else {
    event->accept();
  }
}

bool MainDialogWindow::focusNextPrevChild(bool next) {
  // The arrow keys on a button ask the window to move the focus; it stays where it is. Tab and
  // Shift+Tab never get here (eventFilter).
  if (OfferedToDialogManager(MessageKind::kKeyDown)) return QDialog::focusNextPrevChild(next);
  return true;
}

void MainDialogWindow::TakeTabFrom(QWidget& control) {
  control.installEventFilter(this);
  // Focus drawn from the start: the exit button has it before any key is pressed.
  setAttribute(Qt::WA_KeyboardFocusChange);
}

bool MainDialogWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    // A click moves the focus too, and Qt would stop drawing it; a keyboard user must always see
    // where the next key goes.
    setAttribute(Qt::WA_KeyboardFocusChange);
  } else if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool command = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
    const bool back = key->key() == Qt::Key_Backtab ||
                      (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier));
    if (!command && (back || key->key() == Qt::Key_Tab)) {
      // Taken before the control sees it: a multi-line field would otherwise keep Tab.
      QDialog::focusNextPrevChild(!back);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void MainDialogWindow::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  if (first_picture_shown_) return;
  first_picture_shown_ = true;
  // The icon is for the window manager's title bar and task list: its pictures are read and sent
  // once the dialog itself is on the screen, so that they delay neither.
  QTimer::singleShot(0, this, [this] {
    setWindowIcon(ApplicationIcon());
    for (const std::function<void()>& work : std::exchange(after_first_picture_, {})) work();
  });
}

void MainDialogWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  close_request_();
}

QtDialogView::QtDialogView(DialogCommands& dialog, std::span<const ControlSnapshot> controls,
                           QString application_name)
    : dialog_(dialog),
      application_name_(std::move(application_name)),
      window_([this] { dialog_.OnCommand(kIdCancel, Notification::kClicked); }) {
  const DialogTemplate& main = MainDialogTemplate();
  window_.setWindowTitle(QString::fromStdString(Text(main.caption)));
  const std::vector<BuiltControl> built = LayOut(main);
  for (const BuiltControl& entry : built) {
    const int id = entry.control->id;
    if (id == kIdStatic) continue;
    widgets_[id] = entry.widget;
    window_.TakeTabFrom(*entry.widget);
    if (auto* edit = dynamic_cast<TemplateEdit*>(entry.widget)) {
      edit->SetChangeHandler([this, id] { dialog_.OnCommand(id, Notification::kChanged); });
    } else if (auto* check_box = dynamic_cast<QCheckBox*>(entry.widget)) {
      // The box has toggled its tick by the time `clicked` arrives.
      QObject::connect(check_box, &QCheckBox::clicked, &window_,
                       [this, id] { dialog_.OnCommand(id, Notification::kClicked); });
    } else if (auto* button = dynamic_cast<QPushButton*>(entry.widget);
               button != nullptr && dynamic_cast<LinkButton*>(button) == nullptr) {
      QObject::connect(button, &QPushButton::clicked, &window_,
                       [this, id] { dialog_.OnCommand(id, Notification::kClicked); });
    }
  }
  NameForAssistiveTechnologies(built);
  TakeOver(controls);
  if (QWidget* first = FirstTabStop(built)) first->setFocus();
  dialog_.AttachView(*this);
}

std::vector<BuiltControl> QtDialogView::LayOut(const DialogTemplate& main) {
  const QFont font = TemplateFont(main.font);
  std::vector<BuiltControl> built = CreateControls(window_, main, font);
  memo_ = LayoutMemo(LayoutMemoPath(), LayoutKey(main, font, window_));
  std::optional<TextMeasures> recalled = memo_.Recall(built.size());
  const TextMeasures measures = recalled ? *recalled : MeasureText(font, built);
  font_ = {font, measures.base_x, measures.base_y};
  PlaceControls(window_, main, font_, built, measures.caption_widths);
  ShowAsTemplated(built);
  window_.AfterFirstPicture([this, built, recalled = std::move(recalled), measures] {
    if (!recalled) {
      memo_.Keep(measures);
      return;
    }
    // Measured again with the window on the screen: a font installed or removed since the memo
    // was kept changes the text's size, and then the window is laid out anew.
    const TextMeasures now = MeasureText(font_.font, built);
    if (now == *recalled) return;
    font_.base_x = now.base_x;
    font_.base_y = now.base_y;
    const QPoint centre = window_.geometry().center();  // where it was put, for its first size
    PlaceControls(window_, MainDialogTemplate(), font_, built, now.caption_widths);
    window_.move(centre - QPoint(window_.width() / 2, window_.height() / 2));
    memo_.Keep(now);
  });
  return built;
}

QtDialogView::~QtDialogView() {
  while (wait_cursor_depth_ > 0) EndWaitCursor();
}

void QtDialogView::NameForAssistiveTechnologies(const std::vector<BuiltControl>& built) {
  for (const AccessibleName& entry : MainDialogAccessibleNames()) {
    QWidget* control = widget(entry.id);
    control->setAccessibleName(QString::fromStdString(Text(entry.name)));
    // A field named by the text above it is also labelled by it.
    for (const BuiltControl& label : built) {
      if (label.control->id != kIdStatic || label.control->text != entry.name) {
        continue;
      }
      if (auto* text = dynamic_cast<QLabel*>(label.widget)) text->setBuddy(control);
    }
  }
}

void QtDialogView::TakeOver(std::span<const ControlSnapshot> controls) {
  for (const ControlSnapshot& state : controls) {
    const int id = state.id;
    if (widgets_.count(id) == 0) continue;
    if (dynamic_cast<TemplateEdit*>(widget(id)) != nullptr) SetText(id, state.text);
    if (dynamic_cast<QCheckBox*>(widget(id)) != nullptr) SetChecked(id, state.checked);
    if (dynamic_cast<QProgressBar*>(widget(id)) != nullptr) {
      SetProgressRange(id, state.range);
      SetProgressPos(id, state.position);
    }
    Show(id, state.visible);
    Enable(id, state.enabled);
  }
}

QWidget* QtDialogView::widget(int id) const {
  auto found = widgets_.find(id);
  if (found == widgets_.end()) throw std::out_of_range("no control " + std::to_string(id));
  return found->second;
}

int QtDialogView::RunModal() { return window_.exec(); }

std::string_view QtDialogView::GetText(int id) {
  QWidget* control = widget(id);
  QString text;
  if (auto* edit = dynamic_cast<QPlainTextEdit*>(control)) {
    text = edit->toPlainText();
  } else if (auto* button = dynamic_cast<QAbstractButton*>(control)) {
    text = button->text();
  } else if (auto* label = dynamic_cast<QLabel*>(control)) {
    text = label->text();
  }
  text_ = text.toStdString();
  return text_;
}

void QtDialogView::SetText(int id, std::string_view text) {
  QWidget* control = widget(id);
  if (auto* edit = dynamic_cast<TemplateEdit*>(control)) {
    edit->SetTextQuietly(FromUtf8(text));
  } else if (auto* button = dynamic_cast<QAbstractButton*>(control)) {
    button->setText(FromUtf8(text));
  } else if (auto* label = dynamic_cast<QLabel*>(control)) {
    label->setText(FromUtf8(text));
  }
}

bool QtDialogView::IsChecked(int id) {
  auto* check_box = dynamic_cast<QCheckBox*>(widget(id));
  return check_box != nullptr && check_box->isChecked();
}

void QtDialogView::SetChecked(int id, bool checked) {
  // setChecked raises no `clicked`, so no command follows.
  if (auto* check_box = dynamic_cast<QCheckBox*>(widget(id))) check_box->setChecked(checked);
}

bool QtDialogView::Show(int id, bool visible) {
  QWidget* control = widget(id);
  const bool was_visible = !control->isHidden();
  control->setHidden(!visible);
  return was_visible;
}

bool QtDialogView::IsVisible(int id) { return !widget(id)->isHidden(); }

void QtDialogView::Enable(int id, bool enabled) { widget(id)->setEnabled(enabled); }

void QtDialogView::SetProgressRange(int id, uint64_t maximum) {
  Progress& progress = progress_[id];
  progress.scale = BarScale(maximum);
  if (auto* bar = dynamic_cast<QProgressBar*>(widget(id))) {
    bar->setRange(0, progress.scale.maximum());
    bar->setValue(progress.scale.Position(progress.position));
  }
}

void QtDialogView::SetProgressPos(int id, uint64_t position) {
  Progress& progress = progress_[id];
  progress.position = position;
  if (auto* bar = dynamic_cast<QProgressBar*>(widget(id))) {
    bar->setValue(progress.scale.Position(position));
  }
}

void QtDialogView::MessageBox(std::string_view text, MessageIcon icon) {
  ShowMessageBox(&window_, application_name_, text, icon);
}

void QtDialogView::Beep(MessageIcon) { QApplication::beep(); }

void QtDialogView::BeginWaitCursor() {
  ++wait_cursor_depth_;
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtDialogView::EndWaitCursor() {
  if (wait_cursor_depth_ == 0) return;
  --wait_cursor_depth_;
  QApplication::restoreOverrideCursor();
}

void QtDialogView::DrainMessages() { QCoreApplication::processEvents(); }

void QtDialogView::Pause(int milliseconds) {
  // The window keeps painting while the user looks at the finished progress.
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void QtDialogView::SetIcons() { window_.setWindowIcon(ApplicationIcon()); }

void QtDialogView::ShowVersionDialog() {
  // Modal, so the main dialog takes no input while it is open; one at a time.
  if (version_dialog_open_) return;
  version_dialog_open_ = true;
  const DialogTemplate& about = VersionDialogTemplate();
  QDialog box(&window_, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  box.setObjectName(QStringLiteral("versionDialog"));
  box.setWindowTitle(QString::fromStdString(Text(about.caption)));
  const std::vector<BuiltControl> built = BuildControls(box, about, LoadDialogFont(about.font));
  for (const BuiltControl& entry : built) {
    auto* button = dynamic_cast<QPushButton*>(entry.widget);
    if (button == nullptr || entry.control->id != kIdExit) continue;
    // Its OK button is the default push button: Enter presses it, Escape and the close box end
    // the dialog as usual.
    button->setAutoDefault(true);
    button->setDefault(true);
    QObject::connect(button, &QPushButton::clicked, &box, &QDialog::accept);
  }
  if (QWidget* first = FirstTabStop(built)) first->setFocus();
  box.exec();
  version_dialog_open_ = false;
}

void QtDialogView::EndDialog(int result) { window_.done(result); }

}  // namespace quorvane::qt
