#pragma once

#include <QCheckBox>
#include <QColor>
#include <QFont>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRect>
#include <QString>
#include <functional>
#include <vector>

#include "platform/qt/layout_memo.h"
#include "ui/caption_fit.h"
#include "ui/dialog_templates.h"

class QWidget;

namespace quorvane::qt {

// A template's font as installed here, with the dialog base units that turn dialog units into
// pixels the way the Windows dialog manager does: horizontally a quarter, vertically an eighth of
// the font's average character width and height.
struct DialogFont {
  QFont font;
  int base_x = 0;
  int base_y = 0;
};

// The families tried for a template's face, in order: the face itself, then Japanese Gothic
// faces that stand in for it on Linux. Proportional IPA P Gothic comes before IPA Gothic: like
// MS UI Gothic it has proportional Latin letters and so the same base units, which the template's
// button captions were laid out for; fixed-pitch IPA Gothic makes them too narrow for their text.
QStringList FontCandidates(const FontTemplate& font);
// The template's font as Qt is asked for it, not yet loaded.
QFont TemplateFont(const FontTemplate& font);
// `font` with its base units, measured (which loads it).
DialogFont MeasureBaseUnits(const QFont& font);
DialogFont LoadDialogFont(const FontTemplate& font);
QRect DialogUnitsToPixels(const DialogRect& rect, const DialogFont& font);

// An edit control: a plain text field with the template's edit styles. A digits-only field
// refuses typed characters other than 0 to 9 but takes pasted text as it is.
class TemplateEdit : public QPlainTextEdit {
 public:
  TemplateEdit(uint32_t style, QWidget* parent);

  bool digits_only() const { return digits_only_; }
  // Replaces the whole text without raising the change notification, as setting a multi-line
  // edit's window text does not.
  void SetTextQuietly(const QString& text);
  // Called after each change the user makes.
  void SetChangeHandler(std::function<void()> handler) { change_handler_ = std::move(handler); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;

 private:
  bool digits_only_;
  bool quiet_ = false;
  std::function<void()> change_handler_;
};

// A push button. Like a Windows push button it leaves Enter to the dialog, so that the dialog's
// keyboard filter alone decides what Enter does; a default push button is drawn as one.
class TemplateButton : public QPushButton {
 public:
  TemplateButton(const QString& text, bool is_default, QWidget* parent);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// An automatic check box. A screen reader's Toggle action clicks it, as the mouse or Space would,
// so the dialog hears of the change; the click comes once the request has been answered, since
// the dialog may answer it with a modal message box.
class TemplateCheckBox : public QCheckBox {
  // A class name of its own, under which assistive technologies find its interface before Qt's
  // own for check boxes.
  Q_OBJECT

 public:
  TemplateCheckBox(const QString& text, QWidget* parent);
};

// The hyperlink control: its caption is its address; a click opens it in the user's browser.
// Assistive technologies see it as a link that can be pressed.
class LinkButton : public QPushButton {
  // A class name of its own, under which assistive technologies find the link's interface
  // before Qt's own for push buttons.
  Q_OBJECT

 public:
  LinkButton(const QString& address, QWidget* parent);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  // Takes the link colour from the palette, readable on the window's face.
  void FollowPalette();

  QString colour_;
};

// The contrast that body text needs (WCAG 2.1, level AA).
inline constexpr double kReadableContrast = 4.5;
// WCAG 2.1 relative luminance of an sRGB colour, and the contrast ratio of two colours.
double RelativeLuminance(const QColor& colour);
double ContrastRatio(const QColor& first, const QColor& second);
// `ink` itself when it is readable on `background`; else `ink` made lighter (on a dark face) or
// darker (on a light one) just until it is.
QColor ReadableOn(const QColor& ink, const QColor& background);

struct BuiltControl {
  const ControlTemplate* control;
  QWidget* widget;
};

// The width `widget`, built from `control`, needs to show its caption whole: a text's or check
// box's own size hint, a push button's caption with the room its style keeps around one. 0 for a
// control without a caption.
int CaptionWidth(const ControlTemplate& control, const QWidget& widget);

// The steps of BuildControls, for a window that lays itself out from measures kept from an
// earlier start. CreateControls makes the template's controls on `parent` in template order, with
// the font and the tab order, and leaves them where they are; MeasureText measures the font and
// the controls' captions; PlaceControls sizes `parent` to the template and puts each control at
// its rectangle, grown where its caption is longer (FitToText), and can be called again with new
// measures; ShowAsTemplated shows the controls that the template shows. A control is shown only
// once it has its place: shown before, Qt would size it to its text first, laying out its
// caption for nothing.
std::vector<BuiltControl> CreateControls(QWidget& parent, const DialogTemplate& dialog,
                                         const QFont& font);
TextMeasures MeasureText(const QFont& font, const std::vector<BuiltControl>& built);
void PlaceControls(QWidget& parent, const DialogTemplate& dialog, const DialogFont& font,
                   const std::vector<BuiltControl>& built, const std::vector<int>& caption_widths);
void ShowAsTemplated(const std::vector<BuiltControl>& built);

// Creates the template's controls on `parent` in template order, placed at their rectangles,
// and sizes `parent` to the template. Controls whose caption is longer than their rectangle grow
// to show it whole rather than clipped (FitToText).
std::vector<BuiltControl> BuildControls(QWidget& parent, const DialogTemplate& dialog,
                                        const DialogFont& font);

}  // namespace quorvane::qt
