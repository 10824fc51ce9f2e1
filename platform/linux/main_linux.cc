// The Linux executable: the headless front end is built in; the Qt dialog is a module loaded only
// when the dialog has to be shown.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/desktop_front_end.h"
#include "app/quorvane_app.h"
#include "platform/headless/headless_view.h"
#include "platform/linux/desktop_sound_linux.h"
#include "platform/linux/startup_heap.h"
#include "platform/linux/system_log_linux.h"
#include "storage/descriptor_io_posix.h"
#include "storage/file_primitives.h"
#include "storage/folder_tree.h"
#include "storage/kernel_calls_linux.h"
#include "ui/quorvane_dlg.h"
#include "ui/texts.h"

namespace quorvane {
namespace {

std::string OwnPath() {
  // Read on the stack, whose pages a run has touched already: a string of this size would take a
  // fresh page of the heap for a few bytes of path.
  char path[4096];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return {};
  return std::string(path, static_cast<size_t>(length));
}

// The path the executable was started by, where its last part is the file itself (not a link):
// its name is then the one /proc/self/exe tells, without the process's first look into /proc,
// which costs a run 30 to 80 microseconds. Empty otherwise.
std::string StartedAsFile() {
  const auto* started_as = reinterpret_cast<const char*>(::getauxval(AT_EXECFN));
  struct stat st;
  if (started_as == nullptr || ::lstat(started_as, &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return started_as;
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
    CloseStartupHeap();
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

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// A desktop session's display, X11 or Wayland: windows can be shown there, and its sound theme
// has the event sounds.
bool HasDisplay() { return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY"); }

// Whether the desktop front end is worth loading: a display, or a Qt platform named instead of
// one (offscreen, say), which the module itself judges.
bool MayShowWindow() { return HasDisplay() || IsSet("QT_QPA_PLATFORM"); }

// The descriptors 0, 1 and 2 that the caller left closed. They hold /dev/null now, as a guard,
// but nothing written there reaches anybody: output to a closed standard output is an error.
struct ClosedStreams {
  bool input = false;
  bool output = false;
  bool error = false;
};

// Run before anything is opened. A descriptor 0, 1 or 2 that the caller left closed would be
// handed to the first file opened (the lock file, say), and messages meant for standard error
// would be written into it; /dev/null takes its place instead. A message that cannot be written
// (standard error a pipe nobody reads) is simply lost: it never ends the run by a signal, so the
// status is always the run's own.
ClosedStreams MakeStandardStreamsSafe() {
  // One call asks after all three: a closed descriptor answers POLLNVAL, and a timeout of 0
  // never waits.
  pollfd streams[3] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
  const bool polled = ::poll(streams, 3, 0) >= 0;
  bool closed[3] = {};
  for (int fd = 0; fd <= 2; ++fd) {
    if (polled ? (streams[fd].revents & POLLNVAL) == 0 : ::fcntl(fd, F_GETFD) != -1) continue;
    closed[fd] = true;
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
  return {closed[0], closed[1], closed[2]};
}

// The descriptors as they are: a closed pipe or a full disk is a failed write, never a signal,
// and a non-blocking descriptor is waited on, never taken for a failure. Nothing here allocates.
class LinuxStreams final : public StandardStreams {
 public:
  explicit LinuxStreams(ClosedStreams closed) : closed_(closed) {}

  bool CanRead() override { return true; }
  std::ptrdiff_t Read(char* buffer, size_t size) override {
    if (closed_.input) {  // there is nothing to read: the caller closed it
      error_ = EBADF;
      return -1;
    }
    for (;;) {
      const ssize_t got = ::read(STDIN_FILENO, buffer, size);
      if (got >= 0) return got;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        AwaitReady(STDIN_FILENO, POLLIN);
      } else if (errno != EINTR) {
        error_ = errno;
        return -1;
      }
    }
  }
  bool Write(std::string_view bytes) override {
    if (closed_.output) {
      error_ = EBADF;
      return false;
    }
    if (WriteAll(STDOUT_FILENO, bytes)) return true;
    error_ = errno;
    return false;
  }
  int last_error() const override { return error_; }
  void WriteError(std::string_view text) override {
    if (!closed_.error) static_cast<void>(WriteAll(STDERR_FILENO, text));
  }
  void PrepareForStream() override {
    // A pipe takes 64 KiB by default, which a fast stream fills at every write; as much as an
    // unprivileged process may ask for lets each write move a whole block. Refused, it stays.
    struct stat st;
    if (closed_.output || ::fstat(STDOUT_FILENO, &st) != 0 || !S_ISFIFO(st.st_mode)) return;
    constexpr int kPipeSize = 1 << 20;  // the default of /proc/sys/fs/pipe-max-size
    static_cast<void>(::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, kPipeSize));
  }

 private:
  ClosedStreams closed_;
  int error_ = 0;
};

class LinuxPlatform final : public Platform {
 public:
  // Allocates nothing: whatever it needs is found when it is first asked for.
  LinuxPlatform(int argc, char** argv, ClosedStreams closed)
      : argc_(argc), argv_(argv), closed_(closed), streams_(closed) {}

  Language UserLanguage() override {
    return LanguageOfEnvironment([](const char* name) -> const char* { return std::getenv(name); });
  }
  std::vector<std::string_view> Arguments() override {
    return argc_ > 1 ? std::vector<std::string_view>(argv_ + 1, argv_ + argc_)
                     : std::vector<std::string_view>();
  }
  Spelling spelling() const override { return Spelling::kPosix; }
  std::string_view line_end() const override { return "\n"; }
  StandardStreams& Streams(bool) override { return streams_; }
  bool ErrorIsTerminal() override { return !closed_.error && ::isatty(STDERR_FILENO) == 1; }

  FileSystem& Files() override { return RealFileSystem(); }
  DocumentsLookup LookUpDocumentsFolder() override { return quorvane::LookUpDocumentsFolder(); }
  std::string ExecutablePath() override {
    if (executable_.empty()) executable_ = OwnPath();
    return executable_;
  }
  std::string ApplicationName() override {
    if (application_name_.empty()) {
      std::string path = executable_;  // where the full path was needed already
      if (path.empty()) path = StartedAsFile();
      if (path.empty()) path = ExecutablePath();
      application_name_ = quorvane::ApplicationName(path, "quorvane");
    }
    return application_name_;
  }

  void ReportStartupError(std::string_view text) override {
    PrintMessageToStandardError(ApplicationName(), text, MessageIcon::kError);
  }

  bool ShowMessage(std::string_view text, MessageIcon icon) override {
    // With a display, a message the settings allow is a real message box.
    if (DesktopFrontEnd* front_end = DesktopFrontEndIfDisplay()) {
      front_end->ShowMessageBox(ApplicationName(), text, icon);
      return true;
    }
    if (MayShowWindow() && !front_end_error_.empty() && !fallback_explained_) {
      // Whoever expected a box on the display learns why the message is here instead.
      std::fprintf(stderr, "%s: %s\n", ApplicationName().c_str(),
                   Format(TextId::kNoMessageBox, {front_end_error_}).c_str());
      fallback_explained_ = true;
    }
    PrintMessageToStandardError(ApplicationName(), text, icon);
    return false;
  }

  SystemLog& Log() override {
    if (!log_) log_.emplace([this] { return ApplicationName(); });
    return *log_;
  }
  uint64_t NowMs() override {
    timespec now = {};
    kernel::MonotonicClock(&now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 +
           static_cast<uint64_t>(now.tv_nsec) / 1'000'000;
  }

  void PlaySound(MessageIcon sound) override {
    // A sound that cannot be played is no reason to fail the run.
    if (HasDisplay()) {
      if (!sound_) sound_.emplace(ApplicationName());
      if (sound_->Play(sound)) return;
    }
    RingTerminalBell();
  }

  std::optional<int> RunModal(CQuorvaneDlg& dialog) override {
    // The dialog's initialisation runs on controls held in memory; the window is built from what
    // it left, once it is known that the dialog stays.
    HeadlessView view;
    view.SetApplicationName(ApplicationName());
    view.SetMessageHandler(
        [this](std::string_view text, MessageIcon icon) { ShowMessage(text, icon); });
    view.SetBeepHandler([this](MessageIcon sound) { PlaySound(sound); });
    dialog.AttachView(view);
    dialog.OnInitDialog();
    if (view.ended()) return view.end_result();

    std::string error;
    DesktopFrontEnd* front_end = MayShowWindow() ? LoadFrontEnd(error) : nullptr;
    if (front_end == nullptr) {
      if (error.empty()) error = Text(TextId::kNoDisplaySet);
      // Without a home folder there is no Documents folder either, and no X authority file:
      // that is the cause to mend first, whatever the display said.
      const std::string documents = QueryDocumentsFolder();
      if (documents.empty() || !DirectoryExists(RealFileSystem(), documents)) {
        const char* home = std::getenv("HOME");
        std::fprintf(
            stderr, "%s: %s\n", ApplicationName().c_str(),
            Format(TextId::kDocumentsNotFound, {documents, home != nullptr ? home : ""}).c_str());
      }
      std::fprintf(stderr, "%s: %s\n", ApplicationName().c_str(),
                   Format(TextId::kDialogNeedsFrontEnd, {error}).c_str());
      return std::nullopt;
    }
    const std::vector<ControlSnapshot> controls = view.Snapshot();
    return front_end->RunModal(dialog, controls, ApplicationName());
  }

 private:
  DesktopFrontEnd* LoadFrontEnd(std::string& error) {
    if (!front_end_tried_) {
      front_end_tried_ = true;
      front_end_ = LoadDesktopFrontEnd(ExecutablePath(), front_end_error_);
    }
    error = front_end_error_;
    return front_end_;
  }

  DesktopFrontEnd* DesktopFrontEndIfDisplay() {
    std::string ignored;
    return MayShowWindow() ? LoadFrontEnd(ignored) : nullptr;
  }

  int argc_;
  char** argv_;
  ClosedStreams closed_;
  LinuxStreams streams_;
  std::string executable_;
  std::string application_name_;
  bool front_end_tried_ = false;
  DesktopFrontEnd* front_end_ = nullptr;
  std::string front_end_error_;
  bool fallback_explained_ = false;
  std::optional<DesktopSound> sound_;
  std::optional<LinuxSystemLog> log_;
};

}  // namespace
}  // namespace quorvane

int main(int argc, char** argv) {
  const quorvane::ClosedStreams closed = quorvane::MakeStandardStreamsSafe();
  quorvane::LinuxPlatform platform(argc, argv, closed);
  return quorvane::CQuorvaneApp(platform).Run();
}
