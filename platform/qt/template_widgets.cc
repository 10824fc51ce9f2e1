#include "platform/qt/template_widgets.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QStyle>
#include <QUrl>
#include <algorithm>
#include <cmath>

namespace quorvane::qt {
namespace {

bool HasStyle(uint32_t style, uint32_t bits) { return (style & bits) == bits; }

bool AllDigits(const QString& text) {
  return std::all_of(text.begin(), text.end(),
                     [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

// Windows rounds dialog units to pixels with MulDiv.
int MulDiv(int value, int numerator, int denominator) {
  return (value * numerator + denominator / 2) / denominator;
}

QWidget* CreateControl(const ControlTemplate& control, QWidget& parent) {
  const QString text = QString::fromStdString(Text(control.text));
  const std::string_view class_name = control.class_name;
  if (class_name == "BUTTON") {
    if ((control.style & style::kButtonTypeMask) == style::kAutoCheckBox) {
      return new TemplateCheckBox(text, &parent);
    }
    return new TemplateButton(
        text, (control.style & style::kButtonTypeMask) == style::kDefaultPushButton, &parent);
  }
  if (class_name == "EDIT") {
    auto* edit = new TemplateEdit(control.style, &parent);
    edit->SetTextQuietly(text);
    return edit;
  }
  if (class_name == "STATIC") {
    auto* label = new QLabel(text, &parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
  }
  if (class_name == "msctls_progress32") {
    auto* bar = new QProgressBar(&parent);
    bar->setTextVisible(false);
    bar->setRange(0, 100);
    bar->setValue(0);
    return bar;
  }
  if (class_name == "MfcLink") return new LinkButton(text, &parent);
  return new QLabel(text, &parent);
}

}  // namespace

QStringList FontCandidates(const FontTemplate& font) {
  return {QString::fromUtf8(font.face), QStringLiteral("IPAPGothic"),
          QStringLiteral("IPAGothic"),  QStringLiteral("Noto Sans CJK JP"),
          QStringLiteral("VL PGothic"), QStringLiteral("TakaoPGothic")};
}

QFont TemplateFont(const FontTemplate& font) {
  // The first of the candidates that is installed, found by Qt's own matching as it loads the
  // font; listing every installed family to look for them would cost more than the match.
  QFont qt_font;
  qt_font.setFamilies(FontCandidates(font));
  qt_font.setPointSize(font.point_size);
  if (font.weight > 0) qt_font.setWeight(font.weight >= 600 ? QFont::Bold : QFont::Normal);
  qt_font.setItalic(font.italic);
  return qt_font;
}

DialogFont MeasureBaseUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int alphabet = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {font, (alphabet / 26 + 1) / 2, metrics.height()};
}

DialogFont LoadDialogFont(const FontTemplate& font) { return MeasureBaseUnits(TemplateFont(font)); }

QRect DialogUnitsToPixels(const DialogRect& rect, const DialogFont& font) {
  return QRect(MulDiv(rect.x, font.base_x, 4), MulDiv(rect.y, font.base_y, 8),
               MulDiv(rect.width, font.base_x, 4), MulDiv(rect.height, font.base_y, 8));
}

TemplateEdit::TemplateEdit(uint32_t style, QWidget* parent)
    : QPlainTextEdit(parent), digits_only_(HasStyle(style, style::kEditNumber)) {
  setReadOnly(HasStyle(style, style::kEditReadOnly));
  setFrameShape(HasStyle(style, style::kBorder) ? QFrame::StyledPanel : QFrame::NoFrame);
  // One line high and scrolled sideways as the caret moves, without scroll bars.
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  document()->setDocumentMargin(1);
  setTabChangesFocus(false);
  if (digits_only_) setInputMethodHints(Qt::ImhDigitsOnly);
  if (isReadOnly()) {
    // A read-only edit shows the dialog's face colour, as on Windows.
    // Its text is then the window's text, which the palette keeps readable on that face.
    QPalette colours = palette();
    colours.setColor(QPalette::Base, colours.color(QPalette::Window));
    colours.setColor(QPalette::Text, colours.color(QPalette::WindowText));
    setPalette(colours);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  }
  connect(this, &QPlainTextEdit::textChanged, this, [this] {
    if (!quiet_ && change_handler_) change_handler_();
  });
}

void TemplateEdit::SetTextQuietly(const QString& text) {
  quiet_ = true;
  setPlainText(text);
  quiet_ = false;
}

void TemplateEdit::keyPressEvent(QKeyEvent* event) {
  // Inside a dialog an edit leaves Tab alone: the dialog moves the focus on Tab before the edit
  // sees it, and Ctrl+Tab goes nowhere.
  if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) {
    event->ignore();
    return;
  }
  if (digits_only_ && !isReadOnly()) {
    const QString typed = event->text();
    const bool command = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
    if (!command && !typed.isEmpty() && typed.front().isPrint() && !AllDigits(typed)) {
      QApplication::beep();
      event->accept();  // refused by the field itself: the text does not change
      return;
    }
  }
  QPlainTextEdit::keyPressEvent(event);
}

void TemplateEdit::inputMethodEvent(QInputMethodEvent* event) {
  if (digits_only_ && !AllDigits(event->commitString())) {
    QInputMethodEvent refused(event->preeditString(), event->attributes());
    QPlainTextEdit::inputMethodEvent(&refused);
    return;
  }
  QPlainTextEdit::inputMethodEvent(event);
}

TemplateButton::TemplateButton(const QString& text, bool is_default, QWidget* parent)
    : QPushButton(text, parent) {
  // Enter reaches a default push button only through the dialog; no button takes it itself.
  setAutoDefault(false);
  setDefault(is_default);
}

void TemplateButton::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->ignore();
    return;
  }
  QPushButton::keyPressEvent(event);
}

namespace {

// What assistive technologies see of a button-like control: named by its caption, with one
// action of its own besides the focus.
class ButtonAccessible : public QAccessibleWidget {
 public:
  ButtonAccessible(QAbstractButton* button, QAccessible::Role role)
      : QAccessibleWidget(button, role) {}

  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Name && widget()->accessibleName().isEmpty()) return button()->text();
    return QAccessibleWidget::text(kind);
  }

 protected:
  QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

class CheckBoxAccessible : public ButtonAccessible {
 public:
  explicit CheckBoxAccessible(TemplateCheckBox* box)
      : ButtonAccessible(box, QAccessible::CheckBox) {}

  QAccessible::State state() const override {
    QAccessible::State state = ButtonAccessible::state();
    state.checkable = true;
    state.checked = button()->isChecked();
    return state;
  }
  QStringList actionNames() const override {
    return QStringList{toggleAction()} + ButtonAccessible::actionNames();
  }
  void doAction(const QString& action) override {
    if (action != toggleAction()) {
      ButtonAccessible::doAction(action);
    } else if (button()->isEnabled()) {
      button()->animateClick();  // clicks after this request is answered
    }
  }
};

// A link, named by its address, that can be pressed.
class LinkAccessible : public ButtonAccessible {
 public:
  explicit LinkAccessible(LinkButton* link) : ButtonAccessible(link, QAccessible::Link) {}

  QAccessible::State state() const override {
    QAccessible::State state = ButtonAccessible::state();
    state.linked = true;
    return state;
  }
  QStringList actionNames() const override {
    return QStringList{pressAction()} + ButtonAccessible::actionNames();
  }
  void doAction(const QString& action) override {
    if (action == pressAction()) {
      button()->click();
    } else {
      ButtonAccessible::doAction(action);
    }
  }
};

QAccessibleInterface* AccessibleFor(const QString& class_name, QObject* object) {
  if (class_name == QLatin1String(LinkButton::staticMetaObject.className())) {
    return new LinkAccessible(static_cast<LinkButton*>(object));
  }
  if (class_name == QLatin1String(TemplateCheckBox::staticMetaObject.className())) {
    return new CheckBoxAccessible(static_cast<TemplateCheckBox*>(object));
  }
  return nullptr;
}

void InstallAccessibleInterfaces() {
  static const bool installed = (QAccessible::installFactory(&AccessibleFor), true);
  (void)installed;
}

}  // namespace

TemplateCheckBox::TemplateCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
  InstallAccessibleInterfaces();
}

LinkButton::LinkButton(const QString& address, QWidget* parent) : QPushButton(address, parent) {
  InstallAccessibleInterfaces();
  setAutoDefault(false);
  setFlat(true);
  setCursor(Qt::PointingHandCursor);
  setToolTip(address);
  FollowPalette();
  connect(this, &QPushButton::clicked, this,
          [address] { QDesktopServices::openUrl(QUrl(address)); });
}

void LinkButton::changeEvent(QEvent* event) {
  QPushButton::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) FollowPalette();
}

void LinkButton::FollowPalette() {
  // The theme's own link colour, made readable on the window's face where the theme's is not
  // (Adwaita dark: #308cc6 on #323232 is 3.48:1). One colour: a visited link looks the same.
  const QPalette& colours = parentWidget() != nullptr ? parentWidget()->palette() : palette();
  const QString colour =
      ReadableOn(colours.color(QPalette::Link), colours.color(QPalette::Window)).name();
  if (colour == colour_) return;  // setting the style sheet again would come back here
  colour_ = colour;
  setStyleSheet(QStringLiteral("QPushButton { color: %1; text-decoration: underline;"
                               " text-align: left; border: none; padding: 0px; }"
                               "QPushButton:focus { outline: 1px dotted; }")
                    .arg(colour));
}

double RelativeLuminance(const QColor& colour) {
  const auto linear = [](int channel) {
    const double value = channel / 255.0;
    return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
  };
  const QColor rgb = colour.toRgb();
  return 0.2126 * linear(rgb.red()) + 0.7152 * linear(rgb.green()) + 0.0722 * linear(rgb.blue());
}

double ContrastRatio(const QColor& first, const QColor& second) {
  const double a = RelativeLuminance(first);
  const double b = RelativeLuminance(second);
  return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor ReadableOn(const QColor& ink, const QColor& background) {
  if (ContrastRatio(ink, background) >= kReadableContrast) return ink;
  // Lighter on a dark face, darker on a light one; hue and saturation stay the theme's.
  const bool lighter = ContrastRatio(Qt::white, background) > ContrastRatio(Qt::black, background);
  const QColor hsl = ink.toHsl();
  for (int step = 1; step <= 255; ++step) {
    const float lightness = hsl.lightnessF() + static_cast<float>(lighter ? step : -step) / 255;
    const QColor candidate =
        QColor::fromHslF(hsl.hslHueF(), hsl.hslSaturationF(), std::clamp(lightness, 0.0F, 1.0F))
            .toRgb();
    if (ContrastRatio(candidate, background) >= kReadableContrast) return candidate;
  }
  return lighter ? QColor(Qt::white) : QColor(Qt::black);
}

int CaptionWidth(const ControlTemplate& control, const QWidget& widget) {
  switch (GrowthOf(control)) {
    case Growth::kText:
      return widget.sizeHint().width();
    case Growth::kButton: {
      // What the style itself adds around a caption when it sizes a button to one, without the
      // smallest width some styles give every button.
      const QStyle& style = *widget.style();
      return widget.fontMetrics().horizontalAdvance(
                 static_cast<const QPushButton&>(widget).text()) +
             style.pixelMetric(QStyle::PM_ButtonMargin, nullptr, &widget) +
             2 * style.pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &widget);
    }
    default:
      return 0;
  }
}

std::vector<BuiltControl> CreateControls(QWidget& parent, const DialogTemplate& dialog,
                                         const QFont& font) {
  parent.setFont(font);
  std::vector<BuiltControl> built;
  QWidget* previous_tab_stop = nullptr;
  for (const ControlTemplate& control : dialog.controls) {
    QWidget* widget = CreateControl(control, parent);
    if (HasStyle(control.style, style::kTabStop)) {
      widget->setFocusPolicy(Qt::StrongFocus);
      if (previous_tab_stop != nullptr) QWidget::setTabOrder(previous_tab_stop, widget);
      previous_tab_stop = widget;
    } else if (std::string_view(control.class_name) != "STATIC") {
      widget->setFocusPolicy(Qt::ClickFocus);
    }
    built.push_back({&control, widget});
  }
  return built;
}

namespace {

std::vector<int> CaptionWidths(const std::vector<BuiltControl>& built) {
  std::vector<int> widths;
  for (const BuiltControl& entry : built)
    widths.push_back(CaptionWidth(*entry.control, *entry.widget));
  return widths;
}

}  // namespace

TextMeasures MeasureText(const QFont& font, const std::vector<BuiltControl>& built) {
  const DialogFont units = MeasureBaseUnits(font);
  return {units.base_x, units.base_y, CaptionWidths(built)};
}

void PlaceControls(QWidget& parent, const DialogTemplate& dialog, const DialogFont& font,
                   const std::vector<BuiltControl>& built, const std::vector<int>& caption_widths) {
  const QSize size = DialogUnitsToPixels({0, 0, dialog.width, dialog.height}, font).size();
  parent.setFixedSize(size);
  std::vector<FitBox> boxes;
  for (size_t index = 0; index < built.size(); ++index) {
    const ControlTemplate& control = *built[index].control;
    const QRect rect = DialogUnitsToPixels(control.rect, font);
    boxes.push_back({rect.x(), rect.y(), rect.width(), rect.height(),
                     index < caption_widths.size() ? caption_widths[index] : 0, GrowthOf(control)});
  }
  // One dialog unit: the template's own gap between neighbouring controls.
  FitToText(boxes, size.width(), DialogUnitsToPixels({0, 0, 1, 0}, font).width());
  for (size_t index = 0; index < built.size(); ++index) {
    const FitBox& box = boxes[index];
    built[index].widget->setGeometry(box.x, box.y, box.width, box.height);
  }
}

void ShowAsTemplated(const std::vector<BuiltControl>& built) {
  for (const BuiltControl& entry : built) {
    entry.widget->setHidden(!HasStyle(entry.control->style, style::kVisible));
  }
}

std::vector<BuiltControl> BuildControls(QWidget& parent, const DialogTemplate& dialog,
                                        const DialogFont& font) {
  std::vector<BuiltControl> built = CreateControls(parent, dialog, font.font);
  PlaceControls(parent, dialog, font, built, CaptionWidths(built));
  ShowAsTemplated(built);
  return built;
}

}  // namespace quorvane::qt
