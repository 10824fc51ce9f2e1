// The desktop front end module: the one exported symbol creates the Qt application and hands
// the executable a DesktopFrontEnd that shows the dialog and message boxes with Qt Widgets.
#include <dlfcn.h>
#include <unistd.h>

#include <span>

#include <QApplication>
#include <QByteArray>
#include <QString>
#include <cstdlib>
#include <string>

#include "app/desktop_front_end.h"
#include "platform/qt/qt_dialog_view.h"

namespace quorvane::qt {
namespace {

// QApplication ends the process when it cannot reach the display, so the X server is tried
// first and the executable gets nullptr instead. libxcb comes with Qt's X11 platform plugin.
bool DisplayReachable() {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  // A window nobody can see would wait for an answer forever.
  if (platform.startsWith("offscreen") || platform.startsWith("minimal")) return false;
  if (!platform.isEmpty() && !platform.startsWith("xcb")) return true;  // Qt's own choice
  if (qEnvironmentVariableIsEmpty("DISPLAY"))
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
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
  if (!quorvane::qt::DisplayReachable()) return nullptr;
  // The application lives as long as the process: the whole program is one modal run.
  static std::string program = program_path;
  static int argc = 1;
  static char* argv[] = {program.data(), nullptr};
  if (QApplication::instance() == nullptr) new QApplication(argc, argv);
  static quorvane::qt::QtFrontEnd front_end;
  return &front_end;
}
