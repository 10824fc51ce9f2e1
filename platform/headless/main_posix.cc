// The Linux executable: the headless front end is built in; the Qt dialog is a module loaded only
// when the dialog has to be shown.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/desktop_front_end.h"
#include "app/quorvane_app.h"
#include "platform/headless/desktop_sound_posix.h"
#include "platform/headless/headless_view.h"
#include "storage/file_primitives.h"
#include "storage/folder_tree.h"
#include "ui/quorvane_dlg.h"
#include "ui/texts.h"

namespace quorvane {
namespace {

std::string OwnPath() {
  std::string path(4096, '\0');
  ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<size_t>(length) >= path.size()) return {};
  path.resize(static_cast<size_t>(length));
  return path;
}

// Every Debian package the dialog needs: the Qt libraries, their X11 and Wayland display
// plugins and the Japanese font, without which the dialog is a window of empty boxes. The
// package recommends exactly these (scripts/test-package.sh holds the two together).
constexpr const char* kDialogPackagesHint =
    "(Debian, Ubuntu: sudo apt install libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins "
    "qt6-wayland fonts-ipafont-gothic)";

// Loads the desktop front end module; on failure says why in `error`.
DesktopFrontEnd* LoadDesktopFrontEnd(const std::string& executable, std::string& error) {
  const std::string folder = executable.substr(0, executable.find_last_of('/'));
  const std::string candidates[] = {folder + "/libquorvane_qt.so",
                                    folder + "/../lib/quorvane/libquorvane_qt.so"};
  for (const std::string& candidate : candidates) {
    if (::access(candidate.c_str(), F_OK) != 0) continue;
    void* module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      // The packages only recommend Qt, so that automatic runs need nothing beyond the C library.
      error = Format(TextId::kQtMissing, {::dlerror(), kDialogPackagesHint});
      return nullptr;
    }
    auto create = reinterpret_cast<DesktopFrontEnd* (*)(const char*)>(
        ::dlsym(module, kDesktopFrontEndSymbol));
    if (create == nullptr) {
      error = Format(TextId::kNotAFrontEnd, {candidate});
      return nullptr;
    }
    DesktopFrontEnd* front_end = create(executable.c_str());
    if (front_end == nullptr) {
      auto why = reinterpret_cast<const char* (*)()>(::dlsym(module, kDesktopFrontEndErrorSymbol));
      const char* reason = why != nullptr ? why() : nullptr;
      error = reason != nullptr && *reason != '\0' ? reason : Text(TextId::kNoDisplayOpened);
    }
    return front_end;
  }
  error = Text(TextId::kFrontEndNotFound);
  return nullptr;
}

// A desktop session, whose sound theme has the event sounds.
bool HasDesktopSession() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

class PosixPlatform final : public Platform {
 public:
  PosixPlatform()
      : executable_(OwnPath()),
        application_name_(ApplicationName(executable_, "quorvane")),
        sound_(application_name_) {}

  FileSystem& Files() override { return RealFileSystem(); }
  std::string DocumentsFolder() override { return QueryDocumentsFolder(); }
  std::string ExecutablePath() override { return executable_; }
  void ReportStartupError(std::string_view text) override {
    PrintMessageToStandardError(application_name_, text, MessageIcon::kError);
  }

  std::optional<int> RunModal(CQuorvaneDlg& dialog) override {
    HeadlessView view;
    view.SetApplicationName(application_name_);
    view.SetMessageHandler([this](std::string_view text, MessageIcon icon) {
      // With a display, a message the settings allow is a real message box.
      if (DesktopFrontEnd* front_end = DesktopFrontEndIfDisplay()) {
        front_end->ShowMessageBox(application_name_, text, icon);
        return;
      }
      if (HasDisplay() && !front_end_error_.empty() && !fallback_explained_) {
        // Whoever expected a box on the display learns why the message is here instead.
        std::fprintf(stderr, "%s: %s\n", application_name_.c_str(),
                     Format(TextId::kNoMessageBox, {front_end_error_}).c_str());
        fallback_explained_ = true;
      }
      PrintMessageToStandardError(application_name_, text, icon);
    });
    view.SetBeepHandler([this](MessageIcon sound) {
      // A sound that cannot be played is no reason to fail the run.
      if (HasDesktopSession() && sound_.Play(sound)) return;
      RingTerminalBell();
    });
    dialog.AttachView(view);
    dialog.OnInitDialog();
    if (view.ended()) return view.end_result();

    std::string error;
    DesktopFrontEnd* front_end = HasDisplay() ? LoadFrontEnd(error) : nullptr;
    if (front_end == nullptr) {
      if (error.empty()) error = Text(TextId::kNoDisplaySet);
      // Without a home folder there is no Documents folder either, and no X authority file:
      // that is the cause to mend first, whatever the display said.
      const std::string documents = QueryDocumentsFolder();
      if (documents.empty() || !DirectoryExists(RealFileSystem(), documents)) {
        const char* home = std::getenv("HOME");
        std::fprintf(
            stderr, "%s: %s\n", application_name_.c_str(),
            Format(TextId::kDocumentsNotFound, {documents, home != nullptr ? home : ""}).c_str());
      }
      std::fprintf(stderr, "%s: %s\n", application_name_.c_str(),
                   Format(TextId::kDialogNeedsFrontEnd, {error}).c_str());
      return std::nullopt;
    }
    const std::vector<ControlSnapshot> controls = view.Snapshot();
    return front_end->RunModal(dialog, controls, application_name_);
  }

 private:
  DesktopFrontEnd* LoadFrontEnd(std::string& error) {
    if (!front_end_tried_) {
      front_end_tried_ = true;
      front_end_ = LoadDesktopFrontEnd(executable_, front_end_error_);
    }
    error = front_end_error_;
    return front_end_;
  }

  DesktopFrontEnd* DesktopFrontEndIfDisplay() {
    std::string ignored;
    return HasDisplay() ? LoadFrontEnd(ignored) : nullptr;
  }

  std::string executable_;
  std::string application_name_;
  bool front_end_tried_ = false;
  DesktopFrontEnd* front_end_ = nullptr;
  std::string front_end_error_;
  bool fallback_explained_ = false;
  DesktopSound sound_;
};

// The descriptors as they are: a closed pipe or a full disk is a failed write, never a signal.
class PosixStreams final : public StandardStreams {
 public:
  bool CanRead() override { return true; }
  std::ptrdiff_t Read(char* buffer, size_t size) override {
    for (;;) {
      const ssize_t got = ::read(STDIN_FILENO, buffer, size);
      if (got >= 0 || errno != EINTR) return got;
    }
  }
  bool Write(std::string_view bytes) override { return WriteAll(STDOUT_FILENO, bytes); }
  void WriteError(std::string_view text) override { WriteAll(STDERR_FILENO, text); }

 private:
  static bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t written = ::write(fd, bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
  }
};

// Run before anything is opened. A descriptor 0, 1 or 2 that the caller left closed would be
// handed to the first file opened (the lock file, say), and messages meant for standard error
// would be written into it; /dev/null takes its place instead. A message that cannot be written
// (standard error a pipe nobody reads) is simply lost: it never ends the run by a signal, so the
// status is always the run's own.
void MakeStandardStreamsSafe() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
  // Past a file-size limit a write then fails (EFBIG) and the run says so with its status, where
  // the signal would have killed it.
  std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace
}  // namespace quorvane

int main(int argc, char** argv) {
  using quorvane::CommandLine;
  quorvane::MakeStandardStreamsSafe();
  // Every text a person reads follows the user's language; files and statuses never do.
  quorvane::SetLanguage(quorvane::LanguageOfEnvironment(
      [](const char* name) -> const char* { return std::getenv(name); }));
  const CommandLine command_line = quorvane::ParseCommandLine(
      std::vector<std::string>(argv + 1, argv + argc), quorvane::Spelling::kPosix);
  quorvane::PosixStreams streams;
  streams.WriteError(quorvane::IgnoredArgumentsNote(command_line, quorvane::Spelling::kPosix));
  if (command_line.action != CommandLine::Action::kRun &&
      command_line.action != CommandLine::Action::kBatch) {
    return quorvane::AnswerCommandLine(
        command_line, streams, {quorvane::Spelling::kPosix, "\n", quorvane::QueryDocumentsFolder});
  }
  const bool batch = command_line.action == CommandLine::Action::kBatch;
  try {
    quorvane::PosixPlatform platform;
    // The desktop launcher asks for the dialog; calling programs pass no arguments, or --batch.
    quorvane::CQuorvaneApp app(platform, quorvane::StartModeFor(command_line));
    const int status = app.InitInstance();
    if (batch) streams.WriteError(quorvane::BatchOutcomeLine(status, app.run_details()));
    return status;
  } catch (const std::bad_alloc&) {
    // The input file is deleted only once the result is whole, so a run that ran out of memory
    // has lost nothing; the caller learns it from the status.
    std::fputs(("quorvane: " + quorvane::Text(quorvane::TextId::kOutOfMemory) + "\n").c_str(),
               stderr);
    return quorvane::ExitStatus(quorvane::RunOutcome::kOutOfMemory);
  }
}
