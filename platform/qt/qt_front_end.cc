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
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

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

// QApplication ends the process when it cannot reach the display, so the X server is tried
// first. libxcb comes with Qt's X11 platform plugin.
bool XServerReachable() {
  void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (xcb == nullptr) return false;
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
  auto has_error = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
  if (connect == nullptr || has_error == nullptr || disconnect == nullptr) return false;
  // A connection now and then fails on a busy machine; a display that is there answers again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0) ::usleep(50'000);
    void* connection = connect(nullptr, nullptr);
    const bool reachable = connection != nullptr && has_error(connection) == 0;
    if (connection != nullptr) disconnect(connection);
    if (reachable) return true;
  }
  return false;
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

// Whether Qt would find the platform plugin `name` (xcb, wayland, ...): the files it loads
// them from, where Qt looks for them.
bool PlatformPluginInstalled(const QString& name) {
  QStringList folders =
      qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH").split(u':', Qt::SkipEmptyParts);
  for (const QString& folder :
       qEnvironmentVariable("QT_PLUGIN_PATH").split(u':', Qt::SkipEmptyParts)) {
    folders << folder + QStringLiteral("/platforms");
  }
  folders << QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
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

// Whether `platform` (a QT_QPA_PLATFORM entry, perhaps with options after a colon) can show a
// window here; if not, says why in `why`.
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
  if (name == QLatin1String("xcb") && !XServerReachable()) {
    why = Format(TextId::kNoDisplayAt, {qEnvironmentVariable("DISPLAY").toStdString()});
    return false;
  }
  if (name.startsWith(QLatin1String("wayland")) && !WaylandCompositorReachable()) {
    why = Format(TextId::kNoWaylandCompositor,
                 {qEnvironmentVariable("WAYLAND_DISPLAY").toStdString()});
    return false;
  }
  return true;
}

// The platform plugin to start Qt with, tried before Qt is: Qt aborts the process when the one it
// picks cannot start. What QT_QPA_PLATFORM asks for, in its order; else the session's own
// display, X11 or Wayland. Empty, with the reason in `why`, when none can show a window.
QString ChoosePlatform(std::string& why) {
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
  for (const QString& candidate : candidates) {
    std::string reason;
    if (PlatformUsable(candidate, reason)) return candidate;
    why += (why.empty() ? "" : "; ") + reason;
  }
  return {};
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
  if (QApplication::instance() != nullptr) return &front_end;
  std::string& why = quorvane::qt::StartError();
  why.clear();
  const QString platform = quorvane::qt::ChoosePlatform(why);
  if (platform.isEmpty()) return nullptr;
  why.clear();
  // The application lives as long as the process: the whole program is one modal run. Qt is
  // told the platform that was found to work, so that it tries no other.
  static std::string program = program_path;
  static std::string platform_name = platform.toStdString();
  static char platform_option[] = "-platform";
  static int argc = 3;
  static char* argv[] = {program.data(), platform_option, platform_name.data(), nullptr};
  new QApplication(argc, argv);
  return &front_end;
}

// Why QuorvaneCreateDesktopFrontEnd returned nullptr, in words for the user.
extern "C" __attribute__((visibility("default"))) const char* QuorvaneDesktopFrontEndError() {
  return quorvane::qt::StartError().c_str();
}
