// The desktop front end module: the one exported symbol creates the Qt application and hands
// the executable a DesktopFrontEnd that shows the dialog and message boxes with Qt Widgets.
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <span>

#include <QApplication>
#include <QByteArray>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

#include "app/desktop_front_end.h"
#include "platform/qt/qt_dialog_view.h"
#include "ui/texts.h"

namespace quorvane::qt {
namespace {

// Why the front end did not start, for the executable to tell the user; empty when it did.
std::string& StartError() {
  static std::string error;
  return error;
}

// Whether a Wayland compositor listens where WAYLAND_DISPLAY says (a name under
// XDG_RUNTIME_DIR, or a path).
bool WaylandCompositorReachable() {
  const QByteArray name = qgetenv("WAYLAND_DISPLAY");
  const QByteArray path = name.startsWith('/') ? name : qgetenv("XDG_RUNTIME_DIR") + '/' + name;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (name.isEmpty() || static_cast<size_t>(path.size()) >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
  const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0) return false;
  const bool reachable =
      ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  ::close(socket);
  return reachable;
}

// Whether the platform plugin `name` (xcb, wayland, ...) is installed: the files Qt loads it
// from, in the folders it looks in. QT_QPA_PLATFORM_PLUGIN_PATH, when set, names the one place
// for platform plugins (a bundle's own, say): Qt would still fall back on its own folder, whose
// plugin need not suit the Qt that was meant, so a plugin missing there counts as missing.
bool PlatformPluginInstalled(const QString& name) {
  QStringList folders =
      qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH").split(u':', Qt::SkipEmptyParts);
  if (folders.isEmpty()) {
    for (const QString& folder :
         qEnvironmentVariable("QT_PLUGIN_PATH").split(u':', Qt::SkipEmptyParts)) {
      folders << folder + QStringLiteral("/platforms");
    }
    folders << QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
  }
  // Wayland's plugin comes in two builds; either serves "wayland".
  const QStringList files = name == QLatin1String("wayland")
                                ? QStringList{QStringLiteral("libqwayland-generic.so"),
                                              QStringLiteral("libqwayland-egl.so")}
                                : QStringList{QStringLiteral("libq%1.so").arg(name)};
  for (const QString& folder : folders) {
    for (const QString& file : files) {
      if (QFileInfo::exists(folder + u'/' + file)) return true;
    }
  }
  return false;
}

// Whether `platform` (a QT_QPA_PLATFORM entry, perhaps with options after a colon) may show a
// window here, as far as can be told before Qt starts; if not, says why in `why`. An X display is
// left for Qt to open: its connection is the one test of whether the server answers and lets
// this user in, and a second one made here beforehand would only double the cost.
bool PlatformUsable(const QString& platform, std::string& why) {
  const QString name = platform.section(u':', 0, 0);
  if (name == QLatin1String("offscreen") || name == QLatin1String("minimal")) {
    // A window nobody can see would wait for an answer forever.
    why = Format(TextId::kPlatformShowsNothing, {name.toStdString()});
    return false;
  }
  if (!PlatformPluginInstalled(name)) {
    why = Format(TextId::kPlatformNotInstalled, {name.toStdString()});
    if (name.startsWith(QLatin1String("wayland"))) {
      why += Text(TextId::kInstallWayland);
    } else if (name == QLatin1String("xcb")) {
      why += Text(TextId::kInstallXcb);
    }
    return false;
  }
  if (name.startsWith(QLatin1String("wayland")) && !WaylandCompositorReachable()) {
    why = Format(TextId::kNoWaylandCompositor,
                 {qEnvironmentVariable("WAYLAND_DISPLAY").toStdString()});
    return false;
  }
  return true;
}

// The platform plugins to start Qt with, in order, checked before Qt starts: Qt aborts the process
// when none of those it is given can start. What QT_QPA_PLATFORM asks for, in its order; else the
// session's own display, X11 or Wayland. Empty, with the reasons in `why`, when none can show a
// window.
QStringList ChoosePlatforms(std::string& why) {
  QStringList candidates = qEnvironmentVariable("QT_QPA_PLATFORM").split(u';', Qt::SkipEmptyParts);
  if (candidates.isEmpty()) {
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (!x11 && !wayland) {
      why = Text(TextId::kNoDisplaySet);
      return {};
    }
    if (x11) candidates << QStringLiteral("xcb");
    if (wayland) candidates << QStringLiteral("wayland");
    if (qgetenv("XDG_SESSION_TYPE") == "wayland")
      std::reverse(candidates.begin(), candidates.end());
  }
  QStringList usable;
  for (const QString& candidate : candidates) {
    std::string reason;
    if (PlatformUsable(candidate, reason)) {
      usable << candidate;
    } else {
      why += (why.empty() ? "" : "; ") + reason;
    }
  }
  return usable;
}

// Why none of `platforms`, handed to Qt, could show a window.
std::string NoneStarted(const QStringList& platforms) {
  std::string why;
  for (const QString& platform : platforms) {
    const QString name = platform.section(u':', 0, 0);
    why += (why.empty() ? "" : "; ") +
           (name.startsWith(QLatin1String("wayland"))
                ? Format(TextId::kNoWaylandCompositor,
                         {qEnvironmentVariable("WAYLAND_DISPLAY").toStdString()})
                : Format(TextId::kNoDisplayAt, {qEnvironmentVariable("DISPLAY").toStdString()}));
  }
  return why;
}

// Loading fontconfig's configuration and caches takes several milliseconds, and the dialog cannot
// measure its first text before it is done. Started here, it runs on a second thread while Qt
// connects to the display and loads its plugins; Qt's own call then finds it done. Nothing is
// started where Qt uses no fontconfig, or where no thread can be made.
std::thread LoadFontConfigurationAside() {
  void* fontconfig = dlopen("libfontconfig.so.1", RTLD_LAZY | RTLD_NOLOAD);
  if (fontconfig == nullptr) return {};
  using Init = int (*)();
  const auto init = reinterpret_cast<Init>(dlsym(fontconfig, "FcInit"));
  dlclose(fontconfig);
  if (init == nullptr) return {};
  try {
    return std::thread(init);
  } catch (const std::system_error&) {
    return {};  // no thread to spare: Qt loads it itself, only later
  }
}

class QtFrontEnd final : public DesktopFrontEnd {
 public:
  int RunModal(DialogCommands& dialog, std::span<const ControlSnapshot> controls,
               std::string_view application_name) override {
    QtDialogView view(dialog, controls,
                      QString::fromUtf8(application_name.data(),
                                        static_cast<qsizetype>(application_name.size())));
    return view.RunModal();
  }

  void ShowMessageBox(std::string_view caption, std::string_view text, MessageIcon icon) override {
    qt::ShowMessageBox(nullptr,
                       QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())),
                       text, icon);
  }
};

}  // namespace
}  // namespace quorvane::qt

extern "C" __attribute__((visibility("default"))) quorvane::DesktopFrontEnd*
QuorvaneCreateDesktopFrontEnd(const char* program_path) {
  static quorvane::qt::QtFrontEnd front_end;
  // The module has its own copy of the catalogue; the same environment gives it the language the
  // executable chose.
  quorvane::SetLanguage(quorvane::LanguageOfEnvironment(
      [](const char* name) -> const char* { return std::getenv(name); }));
  std::string& why = quorvane::qt::StartError();
  if (QApplication::instance() != nullptr) return why.empty() ? &front_end : nullptr;
  const QStringList platforms = quorvane::qt::ChoosePlatforms(why);
  if (platforms.isEmpty()) return nullptr;
  why.clear();
  // The application lives as long as the process: the whole program is one modal run. Qt is
  // told the platforms that may work, in order, so that it tries no other; the last, offscreen,
  // always starts, and then stands for "none of them could": Qt would abort the process instead.
  static std::string program = program_path;
  static std::string platform_names =
      (platforms.join(u';') + QStringLiteral(";offscreen")).toStdString();
  static char platform_option[] = "-platform";
  static int argc = 3;
  static char* argv[] = {program.data(), platform_option, platform_names.data(), nullptr};
  // A platform that Qt cannot start is reported below, in the user's words; Qt's note that it
  // then tried the next one ("could not load ... even though it was found") would only mislead.
  // QT_LOGGING_RULES still overrides this.
  QLoggingCategory::setFilterRules(QStringLiteral("qt.qpa.plugin.info=false"));
  std::thread font_configuration = quorvane::qt::LoadFontConfigurationAside();
  new QApplication(argc, argv);
  if (font_configuration.joinable()) font_configuration.join();
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
    why = quorvane::qt::NoneStarted(platforms);
    return nullptr;
  }
  return &front_end;
}

// Why QuorvaneCreateDesktopFrontEnd returned nullptr, in words for the user.
extern "C" __attribute__((visibility("default"))) const char* QuorvaneDesktopFrontEndError() {
  return quorvane::qt::StartError().c_str();
}
