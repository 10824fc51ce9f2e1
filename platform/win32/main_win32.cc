// The Windows executable: one modal run of the main dialog is the whole life of the process.
#include "storage/windows_api.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/quorvane_app.h"
#include "platform/win32/main_dialog.h"
#include "storage/folder_tree.h"
#include "storage/wide_text.h"
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

class Win32Platform final : public Platform {
 public:
  explicit Win32Platform(HINSTANCE instance)
      : instance_(instance),
        module_path_(ModulePath()),
        application_name_(ToWide(ApplicationName(ToUtf8(module_path_), "Quorvane"))) {}

  FileSystem& Files() override { return RealFileSystem(); }
  std::string DocumentsFolder() override { return QueryDocumentsFolder(); }
  std::string ExecutablePath() override { return ToUtf8(module_path_); }
  void ReportStartupError(std::string_view text) override {
    ::MessageBoxW(nullptr, ToWide(text).c_str(), application_name_.c_str(), MB_OK | MB_ICONERROR);
  }
  std::optional<int> RunModal(CQuorvaneDlg& dialog) override {
    return MainDialog(instance_, dialog, application_name_).RunModal();
  }

 private:
  HINSTANCE instance_;
  std::wstring module_path_;
  std::wstring application_name_;
};

void InitCommonControls() {
  // The Windows 95 set of classes, which holds the progress bar.
  INITCOMMONCONTROLSEX classes = {sizeof(INITCOMMONCONTROLSEX), 0xFF};
  ::InitCommonControlsEx(&classes);
  // The two links are SysLink controls, a class of their own outside that set.
  INITCOMMONCONTROLSEX links = {sizeof(INITCOMMONCONTROLSEX), ICC_LINK_CLASS};
  ::InitCommonControlsEx(&links);
}

// The arguments after the program's name, in UTF-8.
std::vector<std::string> Arguments(const wchar_t* command_line) {
  int count = 0;
  wchar_t** arguments = ::CommandLineToArgvW(command_line, &count);
  if (arguments == nullptr) return {};
  std::vector<std::string> utf8;
  for (int i = 1; i < count; ++i) utf8.push_back(ToUtf8(arguments[i]));
  ::LocalFree(arguments);
  return utf8;
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

// The standard streams of a windowed program. Output goes where the caller redirected it;
// otherwise, when `may_attach`, to the console of the program that started this one (cmd,
// PowerShell), which a windowed program does not get by itself. Input is only ever what the
// caller redirected.
class Win32Streams final : public StandardStreams {
 public:
  explicit Win32Streams(bool may_attach)
      : may_attach_(may_attach), input_(Redirected(STD_INPUT_HANDLE)) {}
  ~Win32Streams() override {
    if (console_ != nullptr) ::CloseHandle(console_);
  }

  bool CanRead() override { return input_ != nullptr; }
  std::ptrdiff_t Read(char* buffer, size_t size) override {
    DWORD got = 0;
    if (::ReadFile(input_, buffer, static_cast<DWORD>(std::min<size_t>(size, 1 << 30)), &got,
                   nullptr)) {
      return got;
    }
    // A pipe whose writer has closed it has simply ended.
    return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  bool Write(std::string_view bytes) override { return WriteTo(STD_OUTPUT_HANDLE, bytes); }
  void WriteError(std::string_view text) override { WriteTo(STD_ERROR_HANDLE, text); }

 private:
  bool WriteTo(DWORD which, std::string_view bytes) {
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
    if (bytes.empty()) return true;
    HANDLE console = Console();
    if (console == nullptr) return false;
    // The console takes UTF-16, whatever its code page.
    const std::wstring wide = ToWide(bytes);
    DWORD written = 0;
    return ::WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written,
                           nullptr) &&
           written == wide.size();
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
};

}  // namespace
}  // namespace quorvane::win32

// The exit status tells a calling program how an automatic run ended (ui/run_outcome.h).
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  static_assert(sizeof(INITCOMMONCONTROLSEX) == 8);
  using quorvane::CommandLine;
  // The texts follow the user interface language, chosen here rather than by the resource loader.
  quorvane::SetLanguage(quorvane::LanguageOfWindowsUiLanguage(::GetUserDefaultUILanguage()));
  const CommandLine command_line = quorvane::ParseCommandLine(
      quorvane::win32::Arguments(::GetCommandLineW()), quorvane::Spelling::kWindows);
  const bool starts = command_line.action == CommandLine::Action::kRun ||
                      command_line.action == CommandLine::Action::kBatch;
  {
    // A start that shows the dialog or runs the drop folder writes a note only where the caller
    // redirected standard error; the answering modes also reach the caller's console.
    quorvane::win32::Win32Streams streams(!starts);
    streams.WriteError(quorvane::IgnoredArgumentsNote(command_line, quorvane::Spelling::kWindows));
    if (!starts) {
      return quorvane::AnswerCommandLine(
          command_line, streams,
          {quorvane::Spelling::kWindows, "\r\n", quorvane::QueryDocumentsFolder});
    }
  }
  quorvane::win32::InitCommonControls();
  const bool batch = command_line.action == CommandLine::Action::kBatch;
  try {
    quorvane::win32::Win32Platform platform(instance);
    // The Start-menu shortcut asks for the dialog with /dialog; calling programs pass nothing, or
    // /batch, which runs the drop folder with no dialog at all.
    quorvane::CQuorvaneApp app(platform, quorvane::StartModeFor(command_line));
    const int status = app.InitInstance();
    if (batch) {
      quorvane::win32::Win32Streams(false).WriteError(
          quorvane::BatchOutcomeLine(status, app.run_details()));
    }
    return status;
  } catch (const std::bad_alloc&) {
    // Nothing is lost: the input file is deleted only once the result is whole.
    return quorvane::ExitStatus(quorvane::RunOutcome::kOutOfMemory);
  }
}
