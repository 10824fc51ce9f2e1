// The Qt dialog with real widgets, keys and clicks, on the offscreen platform, each case in a
// throw-away home folder.
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QInputMethodEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRawFont>
#include <QScopeGuard>
#include <QStyle>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "convert/limits.h"
#include "platform/headless/headless_view.h"
#include "platform/qt/layout_memo.h"
#include "platform/qt/qt_dialog_view.h"
#include "storage/file_system.h"
#include "storage/folder_tree.h"
#include "ui/quorvane_dlg.h"
#include "ui/texts.h"

using namespace quorvane;
using namespace quorvane::qt;

namespace {

constexpr const char* kExecutable = "/opt/quorvane/bin/quorvane";

struct ShownBox {
  QString caption;
  QString text;
  QMessageBox::Icon icon;
  QWidget* owner;
  Qt::WindowModality modality;
  QMessageBox::StandardButtons buttons;
  QString input_when_shown;  // the input field as the user saw it behind the box
};

// One start of the dialog for interactive use: a fresh home folder (and cache folder, unless
// one is given), the dialog's initialisation through the headless view, then the Qt window taking
// over, shown and active. Message boxes are answered at once and recorded.
class Session {
 public:
  explicit Session(const QByteArray& settings = {}, const QString& cache_home = {}) {
    qputenv("HOME", home_.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home_.path() + "/.config").toUtf8());
    qputenv("XDG_CACHE_HOME",
            (cache_home.isEmpty() ? home_.path() + "/.cache" : cache_home).toUtf8());
    folders_ = std::make_unique<FolderTree>(QueryDocumentsFolder());
    QDir().mkpath(QString::fromStdString(folders_->maker));
    if (!settings.isNull()) {
      QDir().mkpath(QString::fromStdString(folders_->temp));
      QFile file(QString::fromStdString(folders_->SettingsFile()));
      file.open(QIODevice::WriteOnly);
      file.write(settings);
    }
    DialogEnvironment environment;
    environment.files = &RealFileSystem();
    environment.documents_folder = [] { return QueryDocumentsFolder(); };
    environment.executable_path = kExecutable;
    dialog_ = std::make_unique<CQuorvaneDlg>(std::move(environment));
    dialog_->AttachView(headless_);
    dialog_->OnInitDialog();
    view_ =
        std::make_unique<QtDialogView>(*dialog_, headless_.Snapshot(), QStringLiteral("quorvane"));
    laid_out_with_ = view_->font();
    SetMessageBoxRunner([this](QMessageBox& box) {
      boxes_.push_back({box.windowTitle(), box.text(), box.icon(), box.parentWidget(),
                        box.windowModality(), box.standardButtons(),
                        QString::fromStdString(std::string(view_->GetText(kIdInput)))});
    });
    view_->window().show();
    view_->window().activateWindow();
    active_ = QTest::qWaitForWindowActive(&view_->window(), 5000);
  }
  ~Session() { SetMessageBoxRunner({}); }

  bool active() const { return active_; }
  // The font and base units the window was first laid out with, before it was shown.
  const DialogFont& laid_out_with() const { return laid_out_with_; }
  CQuorvaneDlg& dialog() { return *dialog_; }
  QtDialogView& view() { return *view_; }
  MainDialogWindow& window() { return view_->window(); }
  const std::vector<ShownBox>& boxes() const { return boxes_; }
  const FolderTree& folders() const { return *folders_; }
  template <typename T>
  T* control(int id) {
    return dynamic_cast<T*>(view_->widget(id));
  }

  void Click(int id) { QTest::mouseClick(view_->widget(id), Qt::LeftButton); }
  // A key as the user presses it: it goes to whichever control has the focus.
  void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(window().windowHandle(), key, modifiers);
  }
  bool SettingsWritten() const {
    return QFile::exists(QString::fromStdString(folders_->SettingsFile()));
  }
  QByteArray Settings() const {
    QFile file(QString::fromStdString(folders_->SettingsFile()));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
  }
  bool DropFolderExists() const {
    return QDir(QString::fromStdString(folders_->auto_file)).exists();
  }
  void MakeDropFolder() const { QDir().mkpath(QString::fromStdString(folders_->auto_file)); }

 private:
  QTemporaryDir home_;
  std::unique_ptr<FolderTree> folders_;
  HeadlessView headless_;
  std::unique_ptr<CQuorvaneDlg> dialog_;
  std::unique_ptr<QtDialogView> view_;
  std::vector<ShownBox> boxes_;
  DialogFont laid_out_with_;
  bool active_ = false;
};

const char* QtClassFor(const ControlTemplate& control) {
  const std::string_view name = control.class_name;
  if (name == "BUTTON") {
    return (control.style & style::kButtonTypeMask) == style::kAutoCheckBox ? "QCheckBox"
                                                                            : "QPushButton";
  }
  if (name == "EDIT") return "QPlainTextEdit";
  if (name == "msctls_progress32") return "QProgressBar";
  if (name == "MfcLink") return "QPushButton";
  return "QLabel";
}

// Types `text` key by key into `widget`, characters beyond ASCII included.
void Type(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    if (c.unicode() < 0x80) {
      QTest::keyClick(widget, c.toLatin1());
    } else {
      QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
  }
}

QString TextOf(QWidget* widget) {
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) return edit->toPlainText();
  return {};
}

// Runs `action`, which opens a modal window, and hands that window to `answer` once it is up;
// a window that never comes, or stays open, is closed after a few seconds so nothing waits.
bool AnswerNextModal(const std::function<void()>& action,
                     const std::function<void(QWidget& modal)>& answer) {
  bool answered = false;
  bool timed_out = false;
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || answered || !modal->isVisible()) return;
    answered = true;
    answer(*modal);
  });
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    timed_out = true;
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
  poll.start();
  watchdog.start(5000);
  action();
  return answered && !timed_out;
}

}  // namespace

class QtDialogTest : public QObject {
  Q_OBJECT

 public slots:
  void RecordUrl(const QUrl& url) { opened_.push_back(url); }

 private slots:
  void dialogUnitsRoundLikeTheDialogManager_data();
  void dialogUnitsRoundLikeTheDialogManager();
  void windowFollowsTheMainTemplate();
  void layoutMemoLaysOutTheNextStart_data();
  void layoutMemoLaysOutTheNextStart();
  void layoutKeyFollowsWhatTheMeasuresDependOn();
  void layoutMemoCannotBeWritten();
  void captionsGrowIntoFreeRoom_data();
  void captionsGrowIntoFreeRoom();
  void controlsFollowTheMainTemplate_data();
  void controlsFollowTheMainTemplate();
  void keysNeverCloseTheDialog_data();
  void keysNeverCloseTheDialog();
  void exitButtonStartsWithTheFocusAndSpacePressesIt();
  void keyboardAloneConverts();
  void inputFieldTakesDigitsOnlyWhenTyped_data();
  void inputFieldTakesDigitsOnlyWhenTyped();
  void inputMethodCommitsDigitsOnly();
  void convertFillsTheOutputField_data();
  void convertFillsTheOutputField();
  void autoRunCreatesTheDropFolderAndShowsTheMessagesBox();
  void exitWritesTheSettings_data();
  void exitWritesTheSettings();
  void closeRequestEndsWithCancelAndWritesNothing();
  void windowTakesOverTheInitialisedControls();
  void versionDialogOpensAgainAndAgain_data();
  void versionDialogOpensAgainAndAgain();
  void messageBoxesAreOwnedCaptionedAndIconed();
  void linksOpenTheirAddress();
  void textsAreReadableInEveryPalette_data();
  void textsAreReadableInEveryPalette();
  void readableLinkColour_data();
  void readableLinkColour();
  void waitCursorAndProgressDuringARun();

 private:
  std::vector<QUrl> opened_;
};

void QtDialogTest::dialogUnitsRoundLikeTheDialogManager_data() {
  QTest::addColumn<int>("base_x");
  QTest::addColumn<int>("base_y");
  QTest::addColumn<QRect>("units");
  QTest::addColumn<QRect>("pixels");
  // MS UI Gothic 9 pt at 96 dpi has base units 6 and 12: 455 x 210 units are 683 x 315 pixels.
  QTest::newRow("main dialog") << 6 << 12 << QRect(0, 0, 455, 210) << QRect(0, 0, 683, 315);
  QTest::newRow("exit button, half pixels up")
      << 6 << 12 << QRect(398, 189, 50, 14) << QRect(597, 284, 75, 21);
  QTest::newRow("progress bar") << 6 << 12 << QRect(7, 69, 441, 6) << QRect(11, 104, 662, 9);
  QTest::newRow("base units 7 and 13")
      << 7 << 13 << QRect(7, 25, 290, 14) << QRect(12, 41, 508, 23);
}

void QtDialogTest::dialogUnitsRoundLikeTheDialogManager() {
  QFETCH(int, base_x);
  QFETCH(int, base_y);
  QFETCH(QRect, units);
  QFETCH(QRect, pixels);
  DialogFont font;
  font.base_x = base_x;
  font.base_y = base_y;
  QCOMPARE(DialogUnitsToPixels({units.x(), units.y(), units.width(), units.height()}, font),
           pixels);
}

void QtDialogTest::windowFollowsTheMainTemplate() {
  Session session;
  QVERIFY(session.active());
  MainDialogWindow& window = session.window();
  const DialogTemplate& main = MainDialogTemplate();
  QCOMPARE(window.windowTitle(), QStringLiteral("Quorvane"));
  const QSize size =
      DialogUnitsToPixels({0, 0, main.width, main.height}, session.view().font()).size();
  QCOMPARE(window.size(), size);
  QCOMPARE(window.minimumSize(), size);  // fixed size
  QCOMPARE(window.maximumSize(), size);
  // An application window of its own with a caption, and no close box.
  QCOMPARE(window.windowType(), Qt::Window);
  QVERIFY(window.windowFlags() & Qt::WindowTitleHint);
  QVERIFY(!(window.windowFlags() & Qt::WindowCloseButtonHint));
  QVERIFY(!(window.windowFlags() & Qt::WindowSystemMenuHint));
  // The icon in every size it comes in, each one read, once the window has shown itself.
  QTRY_VERIFY(!window.windowIcon().isNull());
  const QIcon icon = window.windowIcon();
  QCOMPARE(icon.availableSizes(),
           (QList<QSize>{{16, 16}, {24, 24}, {32, 32}, {48, 48}, {256, 256}}));
  for (const QSize& each : icon.availableSizes()) QCOMPARE(icon.pixmap(each, 1.0).size(), each);

  // MS UI Gothic where it is installed, else the first Japanese Gothic stand-in that is: never a
  // font the system substitutes for a missing one. Faces are named as their files name them, for
  // fontconfig lists them in the user's language (IPAPGothic as "IPA Pゴシック" under ja_JP).
  const auto face = [](const QFont& font) { return QRawFont::fromFont(font).familyName(); };
  const QStringList candidates = FontCandidates(main.font);
  const auto first_installed =
      std::find_if(candidates.begin(), candidates.end(), [&](const QString& name) {
        return face(QFont(name)).compare(name, Qt::CaseInsensitive) == 0;
      });
  QVERIFY2(first_installed != candidates.end(), "no Japanese Gothic font is installed");
  const QString family = face(session.view().font().font);
  QVERIFY2(family.compare(*first_installed, Qt::CaseInsensitive) == 0, qPrintable(family));
  QCOMPARE(session.view().font().font.pointSize(), 9);
}

void QtDialogTest::layoutMemoLaysOutTheNextStart_data() {
  // A first start keeps its text's measures after its first picture; the memo is then changed
  // as below, and a second start lays itself out from it (base units `add_x` larger) or, where
  // it is not to be trusted, from its text measured before it shows. Either way the second start
  // ends up laid out from its real measures, kept in the memo again.
  QTest::addColumn<QByteArray>("header");
  QTest::addColumn<QByteArray>("key");  // empty: the key it was kept under
  QTest::addColumn<int>("add_x");
  QTest::addColumn<int>("widths_dropped");
  QTest::addColumn<bool>("recalled");
  const QByteArray header = "quorvane dialog layout 1";
  QTest::newRow("as kept") << header << QByteArray() << 0 << 0 << true;
  QTest::newRow("out of date: laid out anew once shown")
      << header << QByteArray() << 2 << 0 << true;
  QTest::newRow("kept for another font or language")
      << header << QByteArray(64, 'f') << 2 << 0 << false;
  QTest::newRow("another format") << QByteArray("quorvane dialog layout 2") << QByteArray() << 2
                                  << 0 << false;
  QTest::newRow("a caption missing") << header << QByteArray() << 2 << 1 << false;
  QTest::newRow("base unit out of range") << header << QByteArray() << 5000 << 0 << false;
}

void QtDialogTest::layoutMemoLaysOutTheNextStart() {
  QFETCH(QByteArray, header);
  QFETCH(QByteArray, key);
  QFETCH(int, add_x);
  QFETCH(int, widths_dropped);
  QFETCH(bool, recalled);
  QTemporaryDir cache;
  const QString memo = cache.path() + "/quorvane/dialog-layout";
  const auto read = [&memo] {
    QFile file(memo);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  };
  DialogFont real;
  QRect first_exit;
  {
    Session first({}, cache.path());
    QVERIFY(first.active());
    QCOMPARE(first.laid_out_with().base_x, first.view().font().base_x);
    QTRY_VERIFY(!read().isEmpty());
    real = first.view().font();
    first_exit = first.view().widget(kIdExit)->geometry();
  }
  const QByteArray kept = read();
  QList<QByteArray> fields = kept.split('\n').value(1).split(' ');
  QCOMPARE(fields.value(1), QByteArray::number(real.base_x));
  fields[1] = QByteArray::number(real.base_x + add_x);
  if (!key.isEmpty()) fields[0] = key;
  fields.resize(fields.size() - widths_dropped);
  {
    QFile file(memo);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(header + '\n' + fields.join(' ') + '\n');
  }

  Session second({}, cache.path());
  QVERIFY(second.active());
  QCOMPARE(second.laid_out_with().base_x, recalled ? real.base_x + add_x : real.base_x);
  QTRY_COMPARE(second.view().font().base_x, real.base_x);
  QTRY_VERIFY(read().startsWith(kept));  // first, beside any other key's
  const DialogTemplate& main = MainDialogTemplate();
  QCOMPARE(second.window().size(),
           DialogUnitsToPixels({0, 0, main.width, main.height}, real).size());
  QCOMPARE(second.view().widget(kIdExit)->geometry(), first_exit);
}

void QtDialogTest::layoutKeyFollowsWhatTheMeasuresDependOn() {
  QWidget window;
  const DialogTemplate& main = MainDialogTemplate();
  const QFont font = TemplateFont(main.font);
  const QByteArray key = LayoutKey(main, font, window);
  QCOMPARE(LayoutKey(main, TemplateFont(main.font), window), key);
  QFont larger = font;
  larger.setPointSize(font.pointSize() + 1);
  QFont other_face = font;
  other_face.setFamilies({QStringLiteral("IPAGothic")});
  const Language language = CurrentLanguage();
  const auto guard = qScopeGuard([language] { SetLanguage(language); });
  SetLanguage(language == Language::kJapanese ? Language::kEnglish : Language::kJapanese);
  const QByteArray other_language = LayoutKey(main, font, window);
  SetLanguage(language);
  for (const QByteArray& other :
       {LayoutKey(main, larger, window), LayoutKey(main, other_face, window),
        LayoutKey(VersionDialogTemplate(), font, window), other_language}) {
    QVERIFY(other != key);
  }
}

void QtDialogTest::layoutMemoCannotBeWritten() {
  // A cache folder that cannot be made costs the next start its speed, nothing else.
  QTemporaryDir cache;
  QFile blocker(cache.path() + "/quorvane");
  QVERIFY(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  Session session({}, cache.path());
  QVERIFY(session.active());
  QTRY_VERIFY(!session.window().windowIcon().isNull());  // after the first picture
  QTest::qWait(50);
  QVERIFY(QFileInfo(cache.path() + "/quorvane").isFile());
  const DialogTemplate& main = MainDialogTemplate();
  QCOMPARE(session.window().size(),
           DialogUnitsToPixels({0, 0, main.width, main.height}, session.view().font()).size());
}

void QtDialogTest::captionsGrowIntoFreeRoom_data() {
  QTest::addColumn<QList<QRect>>("before");
  QTest::addColumn<QList<int>>("needed");
  QTest::addColumn<QList<int>>("growth");
  QTest::addColumn<QList<QRect>>("after");
  // A dialog 200 pixels wide whose controls start 10 pixels in; neighbours keep 2 pixels apart.
  constexpr int kText = static_cast<int>(Growth::kText);
  constexpr int kButton = static_cast<int>(Growth::kButton);
  constexpr int kField = static_cast<int>(Growth::kField);
  constexpr int kFixed = static_cast<int>(Growth::kFixed);
  QTest::newRow("a text grows rightwards to what it needs")
      << QList<QRect>{{10, 10, 50, 10}} << QList<int>{80} << QList<int>{kText}
      << QList<QRect>{{10, 10, 80, 10}};
  QTest::newRow("a text stops short of the control beside it")
      << QList<QRect>{{10, 10, 50, 10}, {100, 5, 40, 20}} << QList<int>{120, 30}
      << QList<int>{kText, kButton} << QList<QRect>{{10, 10, 88, 10}, {100, 5, 40, 20}};
  QTest::newRow("a text passes a control on another row")
      << QList<QRect>{{10, 10, 50, 10}, {100, 20, 40, 20}} << QList<int>{120, 30}
      << QList<int>{kText, kButton} << QList<QRect>{{10, 10, 120, 10}, {100, 20, 40, 20}};
  QTest::newRow("a text stops at the dialog's margin")
      << QList<QRect>{{10, 10, 50, 10}} << QList<int>{300} << QList<int>{kText}
      << QList<QRect>{{10, 10, 180, 10}};
  QTest::newRow("a text stops at the narrowest margin, left or right")
      << QList<QRect>{{30, 10, 160, 10}, {60, 30, 100, 10}} << QList<int>{160, 200}
      << QList<int>{kText, kText} << QList<QRect>{{30, 10, 160, 10}, {60, 30, 130, 10}};
  QTest::newRow("a text takes no room from a field")
      << QList<QRect>{{10, 10, 50, 10}, {62, 10, 50, 10}} << QList<int>{80, 0}
      << QList<int>{kText, kField} << QList<QRect>{{10, 10, 50, 10}, {62, 10, 50, 10}};
  QTest::newRow("a button at the right edge grows leftwards")
      << QList<QRect>{{10, 10, 40, 14}, {150, 10, 40, 14}} << QList<int>{0, 60}
      << QList<int>{kField, kButton} << QList<QRect>{{10, 10, 40, 14}, {130, 10, 60, 14}};
  QTest::newRow("a button between fields takes room from both")
      << QList<QRect>{{10, 10, 100, 14}, {112, 10, 40, 14}, {154, 10, 36, 14}}
      << QList<int>{0, 60, 0} << QList<int>{kField, kButton, kField}
      << QList<QRect>{{10, 10, 98, 14}, {110, 10, 60, 14}, {172, 10, 18, 14}};
  QTest::newRow("a button beside a fixed control keeps what room there is")
      << QList<QRect>{{10, 10, 40, 14}, {52, 10, 40, 14}, {94, 10, 40, 14}} << QList<int>{0, 60, 0}
      << QList<int>{kFixed, kButton, kFixed}
      << QList<QRect>{{10, 10, 40, 14}, {52, 10, 40, 14}, {94, 10, 40, 14}};
  QTest::newRow("captions that fit change nothing")
      << QList<QRect>{{10, 10, 50, 10}, {150, 10, 40, 14}, {10, 30, 50, 14}}
      << QList<int>{50, 30, 0} << QList<int>{kText, kButton, kField}
      << QList<QRect>{{10, 10, 50, 10}, {150, 10, 40, 14}, {10, 30, 50, 14}};
}

void QtDialogTest::captionsGrowIntoFreeRoom() {
  QFETCH(QList<QRect>, before);
  QFETCH(QList<int>, needed);
  QFETCH(QList<int>, growth);
  QFETCH(QList<QRect>, after);
  std::vector<FitBox> boxes;
  for (qsizetype i = 0; i < before.size(); ++i) {
    const QRect& rect = before[i];
    boxes.push_back({rect.x(), rect.y(), rect.width(), rect.height(), needed[i],
                     static_cast<Growth>(growth[i])});
  }
  FitToText(boxes, 200, 2);
  for (qsizetype i = 0; i < after.size(); ++i) {
    const FitBox& box = boxes[static_cast<size_t>(i)];
    QCOMPARE(QRect(box.x, box.y, box.width, box.height), after[i]);
  }
}

// Both languages: the English texts must fit the same rectangles, unclipped.
void QtDialogTest::controlsFollowTheMainTemplate_data() {
  QTest::addColumn<bool>("english");
  QTest::newRow("Japanese") << false;
  QTest::newRow("English") << true;
}

void QtDialogTest::controlsFollowTheMainTemplate() {
  QFETCH(bool, english);
  SetLanguage(english ? Language::kEnglish : Language::kJapanese);
  const auto japanese_again = qScopeGuard([] { SetLanguage(Language::kJapanese); });
  Session session;
  const DialogTemplate& main = MainDialogTemplate();
  const QObjectList children = session.window().children();
  std::vector<QWidget*> widgets;
  for (QObject* child : children) {
    if (auto* widget = qobject_cast<QWidget*>(child)) widgets.push_back(widget);
  }
  QCOMPARE(widgets.size(), main.controls.size());
  for (size_t i = 0; i < main.controls.size(); ++i) {
    const ControlTemplate& control = main.controls[i];
    QWidget* widget = widgets[i];  // created in template order
    const QString row = QStringLiteral("row %1, id %2").arg(i + 1).arg(control.id);
    QVERIFY2(widget->inherits(QtClassFor(control)), qPrintable(row));
    if (control.id != kIdStatic) QCOMPARE(session.view().widget(control.id), widget);

    // Where the template puts it, or wider to show its caption whole: grown rightwards from its
    // left edge or leftwards from its right edge, and no wider than the caption needs. Only an
    // edit field is ever narrower, having given room to a button beside it.
    const QRect expected = DialogUnitsToPixels(control.rect, session.view().font());
    const QRect actual = widget->geometry();
    QCOMPARE(actual.y(), expected.y());
    QCOMPARE(actual.height(), expected.height());
    QVERIFY2(actual.left() == expected.left() || actual.right() == expected.right(),
             qPrintable(row));
    if (actual.width() < expected.width()) {
      QVERIFY2(widget->inherits("QPlainTextEdit"), qPrintable(row));
    }
    // Every caption whole, clear of its control's border: a text or a check box as wide as Qt
    // says it needs, a push button's caption with the room its style keeps around one.
    int needs = 0;
    if (widget->inherits("QPushButton") && !widget->inherits("quorvane::qt::LinkButton")) {
      needs = widget->fontMetrics().horizontalAdvance(TextOf(widget)) +
              widget->style()->pixelMetric(QStyle::PM_ButtonMargin) +
              2 * widget->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    } else if (!widget->inherits("QPlainTextEdit") && !widget->inherits("QProgressBar")) {
      needs = widget->sizeHint().width();
    }
    QVERIFY2(actual.width() >= needs,
             qPrintable(row + QStringLiteral(": %1 < %2").arg(actual.width()).arg(needs)));
    if (actual.width() > expected.width()) QCOMPARE(actual.width(), needs);
    // Inside the window, and clear of every other control, shown or not.
    QVERIFY2(actual.x() >= 0 && actual.x() + actual.width() <= session.window().width(),
             qPrintable(row));
    for (size_t j = 0; j < i; ++j) {
      QVERIFY2(!actual.intersects(widgets[j]->geometry()),
               qPrintable(row + QStringLiteral(" overlaps row %1").arg(j + 1)));
    }

    if (control.id != kIdFullPath)
      QCOMPARE(TextOf(widget), QString::fromStdString(Text(control.text)));
    const bool hidden_by_initialisation = control.id == kIdProgressText ||
                                          control.id == kIdProgressBar ||
                                          control.id == kIdShowMessages;
    QCOMPARE(widget->isVisible(), !hidden_by_initialisation);
    QCOMPARE(widget->focusPolicy() == Qt::StrongFocus, (control.style & style::kTabStop) != 0);
  }
  QCOMPARE(TextOf(session.view().widget(kIdFullPath)), QString::fromUtf8(kExecutable));

  // What a screen reader finds: fields named, by the text above them where there is one; links.
  for (const AccessibleName& entry : MainDialogAccessibleNames()) {
    QAccessibleInterface* field =
        QAccessible::queryAccessibleInterface(session.view().widget(entry.id));
    QCOMPARE(field->text(QAccessible::Name), QString::fromStdString(Text(entry.name)));
  }
  const auto labels = QAccessible::queryAccessibleInterface(session.view().widget(kIdInput))
                          ->relations(QAccessible::Label);
  QCOMPARE(labels.size(), 1);
  QCOMPARE(labels[0].first->text(QAccessible::Name),
           QString::fromStdString(Text(main.controls[5].text)));
  for (int id : {kIdSiteLink, kIdShopLink}) {
    QAccessibleInterface* link = QAccessible::queryAccessibleInterface(session.view().widget(id));
    QCOMPARE(link->role(), QAccessible::Link);
    QCOMPARE(link->text(QAccessible::Name),
             QString::fromStdString(Text(FindControl(main, id)->text)));
  }

  auto* input = session.control<TemplateEdit>(kIdInput);
  QVERIFY(input->digits_only());
  QVERIFY(!input->isReadOnly());
  for (int id : {kIdOutput, kIdProgressText, kIdFullPath}) {
    QVERIFY(session.control<TemplateEdit>(id)->isReadOnly());
    QVERIFY(!session.control<TemplateEdit>(id)->digits_only());
  }
  QCOMPARE(session.control<TemplateEdit>(kIdProgressText)->frameShape(), QFrame::NoFrame);
  QCOMPARE(session.control<TemplateEdit>(kIdFullPath)->frameShape(), QFrame::StyledPanel);
}

void QtDialogTest::keysNeverCloseTheDialog_data() {
  QTest::addColumn<int>("focus");
  QTest::addColumn<int>("key");
  QTest::addColumn<int>("modifiers");
  QTest::addColumn<int>("focus_after");
  // Tab and Shift+Tab walk the visible tab stops in template order (the show-messages box and the
  // progress text are hidden here) and wrap around; no other key moves the focus.
  const struct {
    int focus;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int focus_after;
    const char* name;
  } rows[] = {
      {kIdExit, Qt::Key_Return, Qt::NoModifier, kIdExit, "Enter on the exit button"},
      {kIdExit, Qt::Key_Enter, Qt::KeypadModifier, kIdExit, "keypad Enter on the exit button"},
      {kIdExit, Qt::Key_Escape, Qt::NoModifier, kIdExit, "Escape on the exit button"},
      {kIdExit, Qt::Key_Tab, Qt::NoModifier, kIdVersion, "Tab on the exit button"},
      {kIdExit, Qt::Key_Backtab, Qt::ShiftModifier, kIdFullPath, "Shift+Tab on the exit button"},
      {kIdExit, Qt::Key_Left, Qt::NoModifier, kIdExit, "Left on the exit button"},
      {kIdExit, Qt::Key_Right, Qt::NoModifier, kIdExit, "Right on the exit button"},
      {kIdExit, Qt::Key_Up, Qt::NoModifier, kIdExit, "Up on the exit button"},
      {kIdExit, Qt::Key_Down, Qt::NoModifier, kIdExit, "Down on the exit button"},
      {kIdVersion, Qt::Key_Return, Qt::NoModifier, kIdVersion, "Enter on the version button"},
      {kIdVersion, Qt::Key_Right, Qt::NoModifier, kIdVersion, "Right on the version button"},
      {kIdVersion, Qt::Key_Tab, Qt::NoModifier, kIdInput, "Tab on the version button"},
      {kIdConvert, Qt::Key_Escape, Qt::NoModifier, kIdConvert, "Escape on the convert button"},
      {kIdConvert, Qt::Key_Return, Qt::NoModifier, kIdConvert, "Enter on the convert button"},
      {kIdConvert, Qt::Key_Tab, Qt::NoModifier, kIdOutput, "Tab on the convert button"},
      {kIdAutoRun, Qt::Key_Down, Qt::NoModifier, kIdAutoRun, "Down on the auto-run box"},
      {kIdAutoRun, Qt::Key_Return, Qt::NoModifier, kIdAutoRun, "Enter on the auto-run box"},
      {kIdAutoRun, Qt::Key_Escape, Qt::NoModifier, kIdAutoRun, "Escape on the auto-run box"},
      {kIdAutoRun, Qt::Key_Tab, Qt::NoModifier, kIdSiteLink, "Tab on the auto-run box"},
      {kIdSiteLink, Qt::Key_Return, Qt::NoModifier, kIdSiteLink, "Enter on the site link"},
      {kIdSiteLink, Qt::Key_Tab, Qt::NoModifier, kIdShopLink, "Tab on the site link"},
      {kIdShopLink, Qt::Key_Escape, Qt::NoModifier, kIdShopLink, "Escape on the shop link"},
      {kIdInput, Qt::Key_Tab, Qt::NoModifier, kIdConvert, "Tab in the input field"},
      {kIdInput, Qt::Key_Tab, Qt::ShiftModifier, kIdVersion, "Shift+Tab in the input field"},
      {kIdInput, Qt::Key_Escape, Qt::NoModifier, kIdInput, "Escape in the input field"},
      {kIdInput, Qt::Key_Tab, Qt::ControlModifier, kIdInput, "Ctrl+Tab in the input field"},
      {kIdOutput, Qt::Key_Return, Qt::NoModifier, kIdOutput, "Enter in the output field"},
      {kIdOutput, Qt::Key_Escape, Qt::NoModifier, kIdOutput, "Escape in the output field"},
      {kIdOutput, Qt::Key_Tab, Qt::NoModifier, kIdAutoRun, "Tab in the output field"},
      {kIdOutput, Qt::Key_Backtab, Qt::ShiftModifier, kIdConvert, "Shift+Tab in the output field"},
      {kIdFullPath, Qt::Key_Escape, Qt::NoModifier, kIdFullPath, "Escape in the full-path field"},
      {kIdFullPath, Qt::Key_Return, Qt::NoModifier, kIdFullPath, "Enter in the full-path field"},
      {kIdFullPath, Qt::Key_Down, Qt::NoModifier, kIdFullPath, "Down in the full-path field"},
      {kIdFullPath, Qt::Key_Tab, Qt::NoModifier, kIdExit, "Tab in the full-path field"},
  };
  for (const auto& row : rows) {
    QTest::newRow(row.name) << row.focus << static_cast<int>(row.key)
                            << static_cast<int>(row.modifiers.toInt()) << row.focus_after;
  }
}

void QtDialogTest::keysNeverCloseTheDialog() {
  QFETCH(int, focus);
  QFETCH(int, key);
  QFETCH(int, modifiers);
  QFETCH(int, focus_after);
  Session session;
  QVERIFY(session.active());
  QWidget* focused = session.view().widget(focus);
  focused->setFocus();
  QCOMPARE(QApplication::focusWidget(), focused);
  const QString text_before = TextOf(focused);

  // A window that opens by mistake is closed again, so the case fails instead of waiting.
  bool modal_opened = false;
  QTimer guard;
  QObject::connect(&guard, &QTimer::timeout, [&] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      modal_opened = true;
      modal->close();
    }
  });
  guard.start(20);
  session.Press(static_cast<Qt::Key>(key), Qt::KeyboardModifiers::fromInt(modifiers));
  QApplication::processEvents();
  guard.stop();

  QVERIFY(!modal_opened);

  QVERIFY(session.window().isVisible());
  QVERIFY(!session.dialog().end_result().has_value());
  QCOMPARE(QApplication::focusWidget(), session.view().widget(focus_after));
  // Where the focus is, it is drawn (a click on a control must not hide it either).
  QVERIFY(session.window().testAttribute(Qt::WA_KeyboardFocusChange));
  QCOMPARE(TextOf(focused), text_before);  // a multi-line field never takes in a Tab
  QVERIFY(!session.SettingsWritten());
  QVERIFY(session.boxes().empty());
}

void QtDialogTest::exitButtonStartsWithTheFocusAndSpacePressesIt() {
  Session session;
  QVERIFY(session.active());
  QCOMPARE(QApplication::focusWidget(), session.view().widget(kIdExit));
  QVERIFY(session.control<QPushButton>(kIdExit)->isDefault());  // drawn as the default button
  session.Press(Qt::Key_Space);
  QCOMPARE(session.dialog().end_result(), std::optional<int>(kResultOk));
  QCOMPARE(session.window().result(), kResultOk);
  QVERIFY(!session.window().isVisible());
  QCOMPARE(session.Settings(), QByteArray("0\r\n0"));
}

void QtDialogTest::keyboardAloneConverts() {
  // From the exit button: Tab twice to the input field, type, Tab to the convert button, Space.
  Session session;
  QVERIFY(session.active());
  auto* output = session.control<QPlainTextEdit>(kIdOutput);
  session.Press(Qt::Key_Tab);
  session.Press(Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), session.view().widget(kIdInput));
  for (Qt::Key digit : {Qt::Key_1, Qt::Key_0, Qt::Key_1, Qt::Key_1}) session.Press(digit);
  session.Press(Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), session.view().widget(kIdConvert));
  session.Press(Qt::Key_Space);
  QCOMPARE(output->toPlainText(), QStringLiteral("11"));
  // Back in the field, one key more or less and the result is gone until converted again.
  session.Press(Qt::Key_Backtab, Qt::ShiftModifier);
  session.Press(Qt::Key_Backspace);
  QCOMPARE(TextOf(session.view().widget(kIdInput)), QStringLiteral("101"));
  QCOMPARE(output->toPlainText(), QString());
  session.Press(Qt::Key_Tab);
  session.Press(Qt::Key_Space);
  QCOMPARE(output->toPlainText(), QStringLiteral("5"));
  QVERIFY(session.window().isVisible());
  QVERIFY(!session.dialog().end_result().has_value());
  QVERIFY(session.boxes().empty());
}

void QtDialogTest::inputFieldTakesDigitsOnlyWhenTyped_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("pasted");
  QTest::addColumn<bool>("enter");
  QTest::addColumn<QString>("text_after");
  QTest::addColumn<QString>(
      "rejected_text");  // what the field held when the box came; null: no box
  QTest::newRow("binary digits") << "0101" << QString() << false << "0101" << QString();
  QTest::newRow("letters refused by the field")
      << "01a1b" << QString() << false << "011" << QString();
  QTest::newRow("full-width one refused by the field")
      << QString::fromUtf8("1１") << QString() << false << "1" << QString();
  QTest::newRow("digit 2 reaches the check") << "102" << QString() << false << ""
                                             << "102";
  QTest::newRow("pasted 01a reaches the check") << ""
                                                << "01a" << false << ""
                                                << "01a";
  QTest::newRow("pasted binary passes") << "1"
                                        << "001" << false << "1001" << QString();
  QTest::newRow("Enter starts a new line") << "11" << QString() << true << ""
                                           << "11\n";
}

void QtDialogTest::inputFieldTakesDigitsOnlyWhenTyped() {
  QFETCH(QString, typed);
  QFETCH(QString, pasted);
  QFETCH(bool, enter);
  QFETCH(QString, text_after);
  QFETCH(QString, rejected_text);
  Session session;
  QVERIFY(session.active());
  QWidget* input = session.view().widget(kIdInput);
  auto* output = session.control<QPlainTextEdit>(kIdOutput);
  output->setPlainText(QStringLiteral("stale"));
  input->setFocus();
  Type(input, typed);
  if (!pasted.isNull()) {
    QApplication::clipboard()->setText(pasted);
    QCOMPARE(QApplication::clipboard()->text(), pasted);
    session.Press(Qt::Key_V, Qt::ControlModifier);
  }
  if (enter) session.Press(Qt::Key_Return);

  QCOMPARE(TextOf(input), text_after);
  // Every row changes the text one way or another: the old result never stays beside it.
  QCOMPARE(output->toPlainText(), QString());
  if (rejected_text.isNull()) {
    QVERIFY(session.boxes().empty());
  } else {
    QCOMPARE(session.boxes().size(), size_t{1});  // once, although clearing changes the text again
    QCOMPARE(session.boxes()[0].text, QString::fromUtf8(Text(TextId::kNotBinary)));
    QCOMPARE(session.boxes()[0].icon, QMessageBox::Critical);
    QCOMPARE(session.boxes()[0].input_when_shown, rejected_text);
  }
  QVERIFY(session.window().isVisible());
}

void QtDialogTest::inputMethodCommitsDigitsOnly() {
  // Text composed with an input method counts as typed: the field refuses what is not a digit.
  Session session;
  QWidget* input = session.view().widget(kIdInput);
  input->setFocus();
  for (const char* commit : {"10", "1a", "\xef\xbc\x91", "1"}) {
    QInputMethodEvent event;
    event.setCommitString(QString::fromUtf8(commit));
    QApplication::sendEvent(input, &event);
  }
  QCOMPARE(TextOf(input), QStringLiteral("101"));
  QVERIFY(session.boxes().empty());
}

void QtDialogTest::convertFillsTheOutputField_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("output");
  QTest::newRow("empty input") << ""
                               << "0";
  QTest::newRow("1010") << "1010"
                        << "10";
  QTest::newRow("past the largest value")
      << "1" + QString(kMaxLineDigits, QLatin1Char('0')) << "-1";
}

void QtDialogTest::convertFillsTheOutputField() {
  QFETCH(QString, typed);
  QFETCH(QString, output);
  Session session;
  auto* out = session.control<QPlainTextEdit>(kIdOutput);
  out->setPlainText(QStringLiteral("stale"));
  QTest::keyClicks(session.view().widget(kIdInput), typed);
  session.Click(kIdConvert);
  QCOMPARE(out->toPlainText(), output);
  QVERIFY(session.window().isVisible());
}

void QtDialogTest::autoRunCreatesTheDropFolderAndShowsTheMessagesBox() {
  Session session;
  auto* auto_run = session.control<QCheckBox>(kIdAutoRun);
  auto* show_messages = session.control<QCheckBox>(kIdShowMessages);
  QVERIFY(!session.DropFolderExists());

  session.Click(kIdAutoRun);
  QVERIFY(auto_run->isChecked());
  QVERIFY(session.DropFolderExists());
  QVERIFY(show_messages->isVisible());
  QCOMPARE(session.boxes().size(), size_t{1});
  QCOMPARE(session.boxes()[0].text, QString::fromUtf8(Text(TextId::kAutoFileCreated)));
  QCOMPARE(session.boxes()[0].icon, QMessageBox::Information);

  // A screen reader's Toggle unticks it like a click: nothing said, the empty folder removed.
  QAccessible::queryAccessibleInterface(auto_run)->actionInterface()->doAction(
      QAccessibleActionInterface::toggleAction());
  QTRY_VERIFY(!session.DropFolderExists());
  QVERIFY(!auto_run->isChecked());
  QVERIFY(!show_messages->isVisible());
  QCOMPARE(session.boxes().size(), size_t{1});

  session.MakeDropFolder();   // a calling program makes it again
  session.Click(kIdAutoRun);  // the folder is there already
  QVERIFY(auto_run->isChecked());
  QVERIFY(show_messages->isVisible());
  QCOMPARE(session.boxes().size(), size_t{2});
  QCOMPARE(session.boxes()[1].text, QString::fromUtf8(Text(TextId::kAutoFileNotCreated)));
  QCOMPARE(session.boxes()[1].icon, QMessageBox::Critical);

  session.Click(kIdShowMessages);  // toggles its own tick and does nothing else
  QVERIFY(show_messages->isChecked());
  QCOMPARE(session.boxes().size(), size_t{2});
  QVERIFY(session.window().isVisible());
  QVERIFY(!session.SettingsWritten());

  // Unticked with a file waiting: the folder and automatic mode stay, and so does the tick,
  // which is what 終了 then saves.
  QFile waiting(QString::fromStdString(session.folders().InputFile()));
  QVERIFY(waiting.open(QIODevice::WriteOnly));
  waiting.close();
  session.Press(Qt::Key_Backtab, Qt::ShiftModifier);  // from the show-messages box
  QCOMPARE(QApplication::focusWidget(), auto_run);
  session.Press(Qt::Key_Space);
  QCOMPARE(session.boxes().size(), size_t{3});
  // It names the folder, so that the person need not hunt for it.
  QCOMPARE(session.boxes()[2].text,
           QString::fromStdString(Text(TextId::kAutoFileKept) + "\r\n" +
                                  Format(TextId::kDropFolderAt, {session.folders().auto_file}))
               .replace(QStringLiteral("\r\n"), "\n"));
  QVERIFY(session.DropFolderExists());
  QVERIFY(auto_run->isChecked());
  QVERIFY(show_messages->isVisible());
  session.Click(kIdExit);
  QCOMPARE(session.Settings(), QByteArray("1\r\n1"));
}

void QtDialogTest::exitWritesTheSettings_data() {
  QTest::addColumn<QList<int>>("clicks");
  QTest::addColumn<QByteArray>("bytes");
  QTest::newRow("nothing ticked") << QList<int>{kIdExit} << QByteArray("0\r\n0");
  QTest::newRow("auto-run and show-messages ticked")
      << QList<int>{kIdAutoRun, kIdShowMessages, kIdExit} << QByteArray("1\r\n1");
  QTest::newRow("auto-run ticked, show-messages not")
      << QList<int>{kIdAutoRun, kIdExit} << QByteArray("1\r\n0");
  QTest::newRow("show-messages ticked, then auto-run unticked")
      << QList<int>{kIdAutoRun, kIdShowMessages, kIdAutoRun, kIdExit} << QByteArray("0\r\n0");
}

void QtDialogTest::exitWritesTheSettings() {
  QFETCH(QList<int>, clicks);
  QFETCH(QByteArray, bytes);
  Session session;
  for (int id : clicks) session.Click(id);
  QCOMPARE(session.dialog().end_result(), std::optional<int>(kResultOk));
  QCOMPARE(session.window().result(), kResultOk);
  QVERIFY(!session.window().isVisible());
  QCOMPARE(session.Settings(), bytes);
}

void QtDialogTest::closeRequestEndsWithCancelAndWritesNothing() {
  Session session;
  session.Click(kIdAutoRun);
  session.Click(kIdShowMessages);
  QVERIFY(!session.window().close());  // the request is the dialog's to grant
  QCOMPARE(session.dialog().end_result(), std::optional<int>(kResultCancel));
  QCOMPARE(session.window().result(), kResultCancel);
  QVERIFY(!session.window().isVisible());
  QVERIFY(!session.SettingsWritten());
}

void QtDialogTest::windowTakesOverTheInitialisedControls() {
  // Saved settings tick both boxes; the interactive start then unticks auto-run and hides the
  // show-messages box with its tick kept, which the window shows and the exit button saves.
  Session session("1\r\n1");
  QVERIFY(!session.control<QCheckBox>(kIdAutoRun)->isChecked());
  QVERIFY(!session.control<QCheckBox>(kIdShowMessages)->isVisible());
  QVERIFY(session.control<QCheckBox>(kIdShowMessages)->isChecked());
  session.Click(kIdAutoRun);
  QVERIFY(session.control<QCheckBox>(kIdShowMessages)->isVisible());
  session.Click(kIdExit);
  QCOMPARE(session.Settings(), QByteArray("1\r\n1"));
}

void QtDialogTest::versionDialogOpensAgainAndAgain_data() {
  QTest::addColumn<QString>("closer");
  for (const char* closer : {"OK", "Enter", "Escape", "close box", "OK again"}) {
    QTest::newRow(closer) << closer;
  }
}

void QtDialogTest::versionDialogOpensAgainAndAgain() {
  QFETCH(QString, closer);
  Session session;
  const DialogTemplate& about = VersionDialogTemplate();
  for (int round = 0; round < 3; ++round) {
    QString title;
    QSize size;
    int labels = 0;
    bool ok_focused = false;
    bool blocked = false;
    const bool answered =
        AnswerNextModal([&] { session.Click(kIdVersion); },
                        [&](QWidget& modal) {
                          title = modal.windowTitle();
                          size = modal.size();
                          labels = static_cast<int>(modal.findChildren<QLabel*>().size());
                          auto* ok = modal.findChild<QPushButton*>();
                          ok_focused = ok != nullptr && ok->hasFocus() && ok->isDefault();
                          // One at a time: asking again while it is open opens no
                          // second one.
                          session.view().ShowVersionDialog();
                          blocked = QApplication::activeModalWidget() == &modal;
                          if (closer.startsWith("OK")) {
                            QTest::mouseClick(ok, Qt::LeftButton);
                          } else if (closer == "Enter") {
                            QTest::keyClick(modal.windowHandle(), Qt::Key_Return);
                          } else if (closer == "Escape") {
                            QTest::keyClick(modal.windowHandle(), Qt::Key_Escape);
                          } else {
                            modal.close();
                          }
                        });
    QVERIFY(answered);
    QCOMPARE(title, QString::fromStdString(Text(about.caption)));
    QCOMPARE(labels, static_cast<int>(about.controls.size()) - 1);
    QVERIFY(ok_focused);
    QVERIFY(blocked);
    QVERIFY(!size.isEmpty());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QVERIFY(session.window().isVisible());
    QVERIFY(!session.dialog().end_result().has_value());
  }
  QVERIFY(session.boxes().empty());
}

void QtDialogTest::messageBoxesAreOwnedCaptionedAndIconed() {
  Session session;
  session.Click(kIdAutoRun);  // information
  QDir().mkpath(QString::fromStdString(session.folders().auto_file + "/kept"));
  session.Click(kIdAutoRun);  // information: the folder is not empty and stays, ticked
  QDir().rmdir(QString::fromStdString(session.folders().auto_file + "/kept"));
  QDir().rmdir(QString::fromStdString(session.folders().auto_file));
  session.Click(kIdAutoRun);  // unticked: the folder is gone already, nothing said
  session.MakeDropFolder();
  session.Click(kIdAutoRun);  // error: the folder exists
  QTest::keyClicks(session.view().widget(kIdInput), QStringLiteral("2"));  // error
  QCOMPARE(session.boxes().size(), size_t{4});
  const QMessageBox::Icon icons[] = {QMessageBox::Information, QMessageBox::Information,
                                     QMessageBox::Critical, QMessageBox::Critical};
  for (size_t i = 0; i < session.boxes().size(); ++i) {
    const ShownBox& box = session.boxes()[i];
    QCOMPARE(box.caption, QStringLiteral("quorvane"));  // the executable's name
    QCOMPARE(box.icon, icons[i]);
    QCOMPARE(box.owner, &session.window());
    QCOMPARE(box.modality, Qt::ApplicationModal);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  }

  // With no dialog on screen (automatic mode), a box stands alone; its lines are lines.
  ShownBox alone{};
  SetMessageBoxRunner([&](QMessageBox& box) {
    alone = {
        box.windowTitle(),     box.text(), box.icon(), box.parentWidget(), box.windowModality(),
        box.standardButtons(), {}};
  });
  ShowMessageBox(nullptr, QStringLiteral("quorvane-renamed"), Text(TextId::kInputMissing),
                 MessageIcon::kError);
  QCOMPARE(alone.caption, QStringLiteral("quorvane-renamed"));
  QCOMPARE(alone.icon, QMessageBox::Critical);
  QCOMPARE(alone.owner, nullptr);
  QCOMPARE(alone.modality, Qt::ApplicationModal);
  QVERIFY(!alone.text.contains(QLatin1Char('\r')));
  QCOMPARE(alone.text.split(QLatin1Char('\n')).last(), QStringLiteral("処理を中止します。"));
}

void QtDialogTest::linksOpenTheirAddress() {
  Session session;
  opened_.clear();
  QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "RecordUrl");
  session.Click(kIdSiteLink);
  // A screen reader presses a link through its action.
  QAccessibleActionInterface* shop =
      QAccessible::queryAccessibleInterface(session.view().widget(kIdShopLink))->actionInterface();
  QVERIFY(shop != nullptr);
  shop->doAction(QAccessibleActionInterface::pressAction());
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  QCOMPARE(opened_.size(), size_t{2});
  QCOMPARE(
      opened_[0],
      QUrl(QString::fromStdString(Text(FindControl(MainDialogTemplate(), kIdSiteLink)->text))));
  QCOMPARE(
      opened_[1],
      QUrl(QString::fromStdString(Text(FindControl(MainDialogTemplate(), kIdShopLink)->text))));
  QVERIFY(session.window().isVisible());
  QVERIFY(!session.dialog().end_result().has_value());
}

namespace {

// The most frequent colour of `image`: the face the texts stand on.
QRgb Background(const QImage& image) {
  std::map<QRgb, int> counts;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) ++counts[image.pixel(x, y)];
  }
  return std::max_element(counts.begin(), counts.end(),
                          [](const auto& a, const auto& b) { return a.second < b.second; })
      ->first;
}

// The contrast of a text as drawn: its most distinct pixel (the solid stem or underline, not an
// anti-aliased edge) against the face it stands on.
double DrawnContrast(const QImage& image) {
  const QColor face = QColor::fromRgb(Background(image));
  double best = 1.0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      best = std::max(best, ContrastRatio(QColor::fromRgb(image.pixel(x, y)), face));
    }
  }
  return best;
}

QPalette DarkPalette() {
  // Adwaita dark as Qt's GTK theme gives it.
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(0x32, 0x32, 0x32));
  dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xec));
  dark.setColor(QPalette::Base, QColor(0x2d, 0x2d, 0x2d));
  dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xec));
  dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
  dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xec));
  dark.setColor(QPalette::Link, QColor(0x30, 0x8c, 0xc6));
  dark.setColor(QPalette::LinkVisited, QColor(0xff, 0x00, 0xff));
  return dark;
}

}  // namespace

void QtDialogTest::textsAreReadableInEveryPalette_data() {
  QTest::addColumn<bool>("dark");
  QTest::newRow("default palette") << false;
  QTest::newRow("Adwaita dark palette") << true;
}

void QtDialogTest::textsAreReadableInEveryPalette() {
  QFETCH(bool, dark);
  const QPalette before = QApplication::palette();
  if (dark) QApplication::setPalette(DarkPalette());
  const auto restore = qScopeGuard([&] { QApplication::setPalette(before); });
  Session session;
  QVERIFY(session.active());
  const QImage shot = session.window().grab().toImage();
  // QUORVANE_SHOTS names a folder that keeps the pictures for a person to look at.
  if (const QString folder = qEnvironmentVariable("QUORVANE_SHOTS"); !folder.isEmpty()) {
    shot.save(folder + (dark ? "/dialog-dark.png" : "/dialog-light.png"));
  }
  // The links, a line of text, a check box's caption and the read-only full path, measured
  // from the pixels as the window shows them.
  const std::pair<int, const char*> texts[] = {{kIdSiteLink, "site link"},
                                               {kIdShopLink, "shop link"},
                                               {kIdAutoRun, "auto-run box"},
                                               {kIdFullPath, "full-path field"}};
  for (const auto& [id, name] : texts) {
    QWidget* control = session.view().widget(id);
    QRect area = control->geometry();
    if (id == kIdFullPath) area.adjust(3, 3, -3, -3);  // the text, within the frame
    const double contrast = DrawnContrast(shot.copy(area));
    QVERIFY2(contrast >= kReadableContrast,
             qPrintable(QStringLiteral("%1: %2:1").arg(name).arg(contrast)));
  }
  QLabel* line = nullptr;
  for (QLabel* label : session.window().findChildren<QLabel*>()) {
    if (label->text() == QString::fromStdString(Text(MainDialogTemplate().controls[9].text)))
      line = label;
  }
  QVERIFY(line != nullptr);
  QVERIFY(DrawnContrast(shot.copy(line->geometry())) >= kReadableContrast);
}

void QtDialogTest::readableLinkColour_data() {
  QTest::addColumn<QColor>("link");
  QTest::addColumn<QColor>("face");
  QTest::addColumn<bool>("kept");
  QTest::newRow("Qt's blue on light grey, readable")
      << QColor(0x00, 0x00, 0xff) << QColor(0xef, 0xef, 0xef) << true;
  QTest::newRow("Adwaita dark: #308cc6 on #323232, lightened")
      << QColor(0x30, 0x8c, 0xc6) << QColor(0x32, 0x32, 0x32) << false;
  QTest::newRow("pale link on white, darkened")
      << QColor(0x99, 0xcc, 0xff) << QColor(0xff, 0xff, 0xff) << false;
  QTest::newRow("blue on mid grey, whichever way reaches 4.5")
      << QColor(0x00, 0x00, 0xc0) << QColor(0x80, 0x80, 0x80) << false;
}

void QtDialogTest::readableLinkColour() {
  QFETCH(QColor, link);
  QFETCH(QColor, face);
  QFETCH(bool, kept);
  const QColor readable = ReadableOn(link, face);
  QVERIFY2(ContrastRatio(readable, face) >= kReadableContrast, qPrintable(readable.name()));
  QCOMPARE(readable == link, kept);
  if (!kept) {
    // Only the lightness moved: the hue is the theme's, and it moved no further than needed.
    QVERIFY(qAbs(readable.toHsl().hslHue() - link.toHsl().hslHue()) <= 2);
    const QColor hsl = readable.toHsl();
    const int back = hsl.lightness() > link.toHsl().lightness() ? -2 : 2;
    const QColor one_step_less =
        QColor::fromHsl(hsl.hslHue(), hsl.hslSaturation(), hsl.lightness() + back);
    QVERIFY(ContrastRatio(one_step_less, face) < kReadableContrast);
  }
}

void QtDialogTest::waitCursorAndProgressDuringARun() {
  Session session;
  QtDialogView& view = session.view();
  view.BeginWaitCursor();
  QVERIFY(QApplication::overrideCursor() != nullptr);
  QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  view.EndWaitCursor();
  QCOMPARE(QApplication::overrideCursor(), nullptr);
  view.EndWaitCursor();  // unbalanced ends are harmless
  QCOMPARE(QApplication::overrideCursor(), nullptr);

  // Ranges past what QProgressBar counts are scaled down, not cut off.
  auto* bar = session.control<QProgressBar>(kIdProgressBar);
  view.SetProgressRange(kIdProgressBar, 6'000'000'000ULL);
  view.SetProgressPos(kIdProgressBar, 3'000'000'000ULL);
  QVERIFY(bar->maximum() > INT_MAX / 2);  // all of the bar is used
  QVERIFY(qAbs(bar->value() - bar->maximum() / 2) <= 1);
  view.SetProgressRange(kIdProgressBar, 200);
  view.SetProgressPos(kIdProgressBar, 50);
  QCOMPARE(bar->maximum(), 200);
  QCOMPARE(bar->value(), 50);
}

int main(int argc, char** argv) {
  // Widgets draw offscreen, and nothing touches the real home folder.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("QTEST_FUNCTION_TIMEOUT"))
    qputenv("QTEST_FUNCTION_TIMEOUT", "60000");
  QTemporaryDir home;
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());
  qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
  QApplication app(argc, argv);
  QtDialogTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "qt_dialog_test.moc"
