#include "platform/qt/layout_memo.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QSaveFile>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>
#include <QWidget>

#include "ui/dialog_templates.h"
#include "ui/texts.h"

namespace quorvane::qt {
namespace {

constexpr char kHeader[] = "quorvane dialog layout 1";
constexpr int kKeptKeys = 8;
// A memo larger than this is not one of ours.
constexpr qint64 kLargestMemo = 64 * 1024;

// Measures out of these ranges come from a damaged file, not from a font.
constexpr int kLargestBaseUnit = 1000;
constexpr int kLargestCaption = 100000;

QList<QByteArray> MemoLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() > kLargestMemo) return {};
  QList<QByteArray> lines = file.readAll().split('\n');
  if (lines.isEmpty() || lines.front() != kHeader) return {};
  lines.removeFirst();
  return lines;
}

std::optional<TextMeasures> Parse(const QByteArray& numbers, size_t controls) {
  const QList<QByteArray> fields = numbers.split(' ');
  if (static_cast<size_t>(fields.size()) != 2 + controls) return std::nullopt;
  std::vector<int> values;
  for (const QByteArray& field : fields) {
    bool ok = false;
    const int value = field.toInt(&ok);
    if (!ok || value < 0) return std::nullopt;
    values.push_back(value);
  }
  TextMeasures measures;
  measures.base_x = values[0];
  measures.base_y = values[1];
  if (measures.base_x < 1 || measures.base_x > kLargestBaseUnit || measures.base_y < 1 ||
      measures.base_y > kLargestBaseUnit) {
    return std::nullopt;
  }
  measures.caption_widths.assign(values.begin() + 2, values.end());
  for (int width : measures.caption_widths) {
    if (width > kLargestCaption) return std::nullopt;
  }
  return measures;
}

}  // namespace

std::optional<TextMeasures> LayoutMemo::Recall(size_t controls) const {
  if (path_.isEmpty()) return std::nullopt;
  const QByteArray prefix = key_ + ' ';
  for (const QByteArray& line : MemoLines(path_)) {
    if (line.startsWith(prefix)) return Parse(line.mid(prefix.size()), controls);
  }
  return std::nullopt;
}

void LayoutMemo::Keep(const TextMeasures& measures) const {
  if (path_.isEmpty()) return;
  QByteArray line =
      key_ + ' ' + QByteArray::number(measures.base_x) + ' ' + QByteArray::number(measures.base_y);
  for (int width : measures.caption_widths) line += ' ' + QByteArray::number(width);
  QByteArray text = QByteArray(kHeader) + '\n' + line + '\n';
  int kept = 1;
  const QByteArray prefix = key_ + ' ';
  for (const QByteArray& other : MemoLines(path_)) {
    if (kept == kKeptKeys) break;
    if (other.isEmpty() || other.startsWith(prefix)) continue;
    text += other + '\n';
    ++kept;
  }
  if (!QDir().mkpath(QFileInfo(path_).path())) return;
  // Written aside and renamed into place: a second Quorvane reading it meanwhile sees the old
  // memo or the new one, never half of one.
  QSaveFile file(path_);
  if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size()) file.commit();
}

QString LayoutMemoPath() {
  const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
  if (cache.isEmpty()) return {};
  return cache + QStringLiteral("/quorvane/dialog-layout");
}

QByteArray LayoutKey(const DialogTemplate& dialog, const QFont& font, const QWidget& window) {
  QByteArray material;
  const auto add = [&material](const QByteArray& part) { material += part + '\n'; };
  add(qVersion());
  add(QGuiApplication::platformName().toUtf8());
  add(window.style()->name().toUtf8());
  if (const QScreen* screen = window.screen()) {
    add(QByteArray::number(screen->logicalDotsPerInchX()) + ' ' +
        QByteArray::number(screen->logicalDotsPerInchY()) + ' ' +
        QByteArray::number(screen->devicePixelRatio()));
  }
  add(font.toString().toUtf8() + ' ' + font.families().join(u'|').toUtf8());
  add(QByteArray::number(dialog.width) + ' ' + QByteArray::number(dialog.height));
  for (const ControlTemplate& control : dialog.controls) {
    add(QByteArray(control.class_name) + ' ' + QByteArray::number(control.style) + ' ' +
        QByteArray::number(control.rect.width) + ' ' + QByteArray::number(control.rect.height) +
        ' ' + QByteArray::fromStdString(Text(control.text)));
  }
  return QCryptographicHash::hash(material, QCryptographicHash::Sha256).toHex();
}

}  // namespace quorvane::qt
