#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

class QFont;
class QWidget;

namespace quorvane {
struct DialogTemplate;
}

namespace quorvane::qt {

// What laying out a dialog takes from measuring its text: the font's dialog base units and each
// control's caption width (0 for a control without a caption), in template order.
struct TextMeasures {
  int base_x = 0;
  int base_y = 0;
  std::vector<int> caption_widths;

  bool operator==(const TextMeasures& other) const = default;
};

// The text measures of an earlier start, kept in the user's cache folder, so that the window can
// be put on the screen before any of its text is laid out: shaping the captions and loading
// their glyphs is a fifth of the dialog's start. Measures are recalled only under the key they
// were kept with (LayoutKey); what no key can see, such as fonts installed since, the dialog
// catches by measuring again once its first picture is on the screen.
class LayoutMemo {
 public:
  LayoutMemo() = default;
  LayoutMemo(QString path, QByteArray key) : path_(std::move(path)), key_(std::move(key)) {}

  // The measures kept under this key, for a dialog of `controls` controls; none where the file is
  // missing, unreadable, damaged or holds other keys only.
  std::optional<TextMeasures> Recall(size_t controls) const;
  // Keeps `measures` under this key, beside the few latest other keys (another language, another
  // screen). Best effort: a cache that cannot be written costs the next start only its speed.
  void Keep(const TextMeasures& measures) const;

 private:
  QString path_;
  QByteArray key_;
};

// The memo file in the user's cache folder ($XDG_CACHE_HOME, else ~/.cache).
QString LayoutMemoPath();

// Everything the measures of `dialog` depend on that can be known without measuring: its texts
// and controls, the font asked for, and the Qt version, platform, style and screen that
// `window` is shown with.
QByteArray LayoutKey(const DialogTemplate& dialog, const QFont& font, const QWidget& window);

}  // namespace quorvane::qt
