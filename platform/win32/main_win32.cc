// The Windows executable: what differs from Linux is here (the command line, the standard
// streams of a windowed program, message boxes, the sound and the dialog's window); the start-up
// itself is the one in app/. Nothing of the windowing system is loaded until something is shown.
#include "storage/windows_api.h"

#include <commctrl.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/platform.h"
#include "app/quorvane_app.h"
#include "platform/win32/event_log_win32.h"
#include "platform/win32/main_dialog.h"
#include "storage/folder_tree.h"
#include "storage/wide_text.h"
#include "ui/control_ids.h"
#include "ui/texts.h"

namespace quorvane::win32 {
namespace {

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // truncated: try a larger buffer
  }
}

// The manifest resource that asks for the themed common controls 6.0, whose classes include the
// SysLink the two links are (resources/win32/quorvane.rc).
constexpr WORD kControlsManifestId = QUORVANE_CONTROLS_MANIFEST;
// The loader itself reads manifests 1-16 of every module as it loads (Wine: even the
// executable's 2, an isolation-aware module's manifest), and would look the assembly up at
// every start.
static_assert(kControlsManifestId > 16);

// Activates that manifest for the rest of the process, the first time something is shown. In
// the process manifest, Windows (and Wine, some 15 requests to its server) would look the
// assembly up at every start, automatic runs included, which show nothing.
void UseThemedControls() {
  static const bool active = [] {
    ACTCTXW context = {};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID | ACTCTX_FLAG_HMODULE_VALID;
    context.hModule = ::GetModuleHandleW(nullptr);
    context.lpResourceName = MAKEINTRESOURCEW(kControlsManifestId);
    const HANDLE handle = ::CreateActCtxW(&context);
    ULONG_PTR cookie = 0;
    return handle != INVALID_HANDLE_VALUE && ::ActivateActCtx(handle, &cookie) != 0;
  }();
  static_cast<void>(active);  // without it, the system's own controls still work
}

void InitCommonControls() {
  // The Windows 95 set of classes, which holds the progress bar.
  INITCOMMONCONTROLSEX classes = {sizeof(INITCOMMONCONTROLSEX), 0xFF};
  ::InitCommonControlsEx(&classes);
  // The two links are SysLink controls, a class of their own outside that set.
  INITCOMMONCONTROLSEX links = {sizeof(INITCOMMONCONTROLSEX), ICC_LINK_CLASS};
  ::InitCommonControlsEx(&links);
}

// A standard handle that the caller redirected (a file, a pipe, NUL); null when there is none or
// it is a console.
HANDLE Redirected(DWORD which) {
  HANDLE handle = ::GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  const DWORD type = ::GetFileType(handle);
  DWORD mode = 0;
  if (type == FILE_TYPE_UNKNOWN || (type == FILE_TYPE_CHAR && ::GetConsoleMode(handle, &mode))) {
    return nullptr;
  }
  return handle;
}

// How many bytes from the start of `text`, at most `most`, end on a whole UTF-8 character.
size_t WholeCharacters(std::string_view text, size_t most) {
  if (text.size() <= most) return text.size();
  size_t cut = most;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut > 0 ? cut : most;
}

// The standard streams of a windowed program. Output goes where the caller redirected it;
// otherwise, when `may_attach`, to the console of the program that started this one (cmd,
// PowerShell), which a windowed program does not get by itself. Input is only ever what the
// caller redirected. Nothing here allocates.
class Win32Streams final : public StandardStreams {
 public:
  explicit Win32Streams(bool may_attach)
      : may_attach_(may_attach), input_(Redirected(STD_INPUT_HANDLE)) {}
  ~Win32Streams() override {
    if (console_ != nullptr) ::CloseHandle(console_);
  }
  Win32Streams(const Win32Streams&) = delete;
  Win32Streams& operator=(const Win32Streams&) = delete;

  bool CanRead() override { return input_ != nullptr; }
  std::ptrdiff_t Read(char* buffer, size_t size) override {
    DWORD got = 0;
    if (::ReadFile(input_, buffer, static_cast<DWORD>(std::min<size_t>(size, 1 << 30)), &got,
                   nullptr)) {
      return got;
    }
    // A pipe whose writer has closed it has simply ended.
    if (::GetLastError() == ERROR_BROKEN_PIPE) return 0;
    error_ = static_cast<int>(::GetLastError());
    return -1;
  }
  bool Write(std::string_view bytes) override {
    if (WriteTo(STD_OUTPUT_HANDLE, bytes)) return true;
    error_ = static_cast<int>(::GetLastError());
    return false;
  }
  int last_error() const override { return error_; }
  void WriteError(std::string_view text) override { WriteTo(STD_ERROR_HANDLE, text); }

 private:
  bool WriteTo(DWORD which, std::string_view bytes) {
    if (bytes.empty()) return true;  // not even a question to the system
    if (HANDLE handle = Redirected(which)) {
      while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD size = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1 << 30));
        if (!::WriteFile(handle, bytes.data(), size, &written, nullptr) || written == 0) {
          return false;
        }
        bytes.remove_prefix(written);
      }
      return true;
    }
    HANDLE console = Console();
    if (console == nullptr) {
      ::SetLastError(ERROR_INVALID_HANDLE);  // no standard output at all
      return false;
    }
    // The console takes UTF-16, whatever its code page: converted a part at a time, on the stack.
    while (!bytes.empty()) {
      wchar_t wide[512];
      const size_t part = WholeCharacters(bytes, std::size(wide));
      const int length = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(part),
                                               wide, static_cast<int>(std::size(wide)));
      DWORD written = 0;
      if (length <= 0 ||
          !::WriteConsoleW(console, wide, static_cast<DWORD>(length), &written, nullptr) ||
          written != static_cast<DWORD>(length)) {
        return false;
      }
      bytes.remove_prefix(part);
    }
    return true;
  }

  HANDLE Console() {
    if (!console_tried_ && may_attach_) {
      console_tried_ = true;
      if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
        console_ =
            ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (console_ == INVALID_HANDLE_VALUE) console_ = nullptr;
      }
    }
    return console_;
  }

  bool may_attach_;
  HANDLE input_;
  bool console_tried_ = false;
  HANDLE console_ = nullptr;
  int error_ = 0;
};

class Win32Platform final : public Platform {
 public:
  // Allocates nothing: whatever it needs is found when it is first asked for.
  explicit Win32Platform(HINSTANCE instance)
      : instance_(instance), caller_streams_(false), answer_streams_(true) {}

  // The texts follow the user interface language, chosen here rather than by the resource loader.
  Language UserLanguage() override {
    return LanguageOfWindowsUiLanguage(::GetUserDefaultUILanguage());
  }
  std::vector<std::string_view> Arguments() override {
    arguments_ = SplitWindowsCommandLine(ToUtf8(::GetCommandLineW()));
    return {arguments_.begin(), arguments_.end()};
  }
  Spelling spelling() const override { return Spelling::kWindows; }
  std::string_view line_end() const override { return "\r\n"; }
  StandardStreams& Streams(bool answering) override {
    return answering ? answer_streams_ : caller_streams_;
  }
  // A windowed program has no terminal of its own; the console it may attach to belongs to the
  // program that started it.
  bool ErrorIsTerminal() override { return false; }

  FileSystem& Files() override { return RealFileSystem(); }
  DocumentsLookup LookUpDocumentsFolder() override { return quorvane::LookUpDocumentsFolder(); }
  std::string ExecutablePath() override {
    if (executable_.empty()) executable_ = ToUtf8(ModulePath());
    return executable_;
  }
  std::string ApplicationName() override {
    return quorvane::ApplicationName(ExecutablePath(), "Quorvane");
  }

  void ReportStartupError(std::string_view text) override {
    ShowMessage(text, MessageIcon::kError);
  }
  bool ShowMessage(std::string_view text, MessageIcon icon) override {
    UseThemedControls();
    ::MessageBoxW(nullptr, ToWide(text).c_str(), ToWide(ApplicationName()).c_str(),
                  MB_OK | static_cast<UINT>(icon));
    return true;
  }
  void PlaySound(MessageIcon sound) override { ::MessageBeep(static_cast<UINT>(sound)); }
  SystemLog& Log() override { return event_log_; }
  uint64_t NowMs() override { return ::GetTickCount64(); }
  std::optional<int> RunModal(CQuorvaneDlg& dialog) override {
    UseThemedControls();
    InitCommonControls();
    return MainDialog(instance_, dialog, ToWide(ApplicationName())).RunModal();
  }

 private:
  HINSTANCE instance_;
  Win32Streams caller_streams_;  // a start's notes: only where the caller redirected them
  Win32Streams answer_streams_;  // the answering modes: also the caller's console
  std::vector<std::string> arguments_;
  std::string executable_;
  Win32EventLog event_log_;
};

}  // namespace
}  // namespace quorvane::win32

// The exit status tells a calling program how the start ended (automation/exit_status.h).
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  static_assert(sizeof(INITCOMMONCONTROLSEX) == 8);
  quorvane::win32::Win32Platform platform(instance);
  return quorvane::CQuorvaneApp(platform).Run();
}
