// The yardstick for the dialog's start: the plainest Qt 6 Widgets program that shows a window with
// the main dialog's controls (the same kinds, texts, places and Japanese font), and nothing else:
// no module to load, no display check, no icon, no drop folder, no dialog logic. Not shipped.
//
// Usage: dialog_minimal      (Japanese texts; LANG=en_US.UTF-8 and the like for English)
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFont>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <cstdlib>
#include <string_view>

#include "ui/dialog_templates.h"
#include "ui/texts.h"

namespace {

// Dialog units at the base units of a 9-point Japanese UI font (6 by 12 pixels).
QRect Pixels(const quorvane::DialogRect& rect) {
  return QRect(rect.x * 3 / 2, rect.y * 3 / 2, rect.width * 3 / 2, rect.height * 3 / 2);
}

QWidget* Create(const quorvane::ControlTemplate& control, QWidget& parent) {
  const QString text = QString::fromStdString(quorvane::Text(control.text));
  const std::string_view name = control.class_name;
  if (name == "BUTTON") {
    if ((control.style & quorvane::style::kButtonTypeMask) == quorvane::style::kAutoCheckBox) {
      return new QCheckBox(text, &parent);
    }
    return new QPushButton(text, &parent);
  }
  if (name == "EDIT") return new QPlainTextEdit(text, &parent);
  if (name == "msctls_progress32") return new QProgressBar(&parent);
  if (name == "MfcLink") {
    auto* link = new QPushButton(text, &parent);
    link->setFlat(true);
    return link;
  }
  return new QLabel(text, &parent);
}

}  // namespace

int main(int argc, char** argv) {
  quorvane::SetLanguage(quorvane::LanguageOfEnvironment(
      [](const char* name) -> const char* { return std::getenv(name); }));
  QApplication application(argc, argv);
  const quorvane::DialogTemplate& main = quorvane::MainDialogTemplate();
  QDialog dialog;
  dialog.setWindowTitle(QString::fromStdString(quorvane::Text(main.caption)));
  QFont font;
  font.setFamilies({QString::fromUtf8(main.font.face), QStringLiteral("IPAPGothic"),
                    QStringLiteral("IPAGothic")});
  font.setPointSize(main.font.point_size);
  dialog.setFont(font);
  dialog.setFixedSize(Pixels({0, 0, main.width, main.height}).size());
  for (const quorvane::ControlTemplate& control : main.controls) {
    Create(control, dialog)->setGeometry(Pixels(control.rect));
  }
  dialog.show();
  return application.exec();
}
