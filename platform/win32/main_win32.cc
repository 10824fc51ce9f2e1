// The Windows executable: one modal run of the main dialog is the whole life of the process.
#include "storage/windows_api.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cwchar>
#include <new>
#include <string>
#include <string_view>

#include "app/quorvane_app.h"
#include "platform/win32/main_dialog.h"
#include "storage/folder_tree.h"
#include "storage/wide_text.h"

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

// The Start-menu shortcut asks for the dialog with /dialog (--dialog works as on Linux); calling
// programs pass nothing, and any other argument is ignored.
StartMode StartModeOf(const wchar_t* command_line) {
  int count = 0;
  wchar_t** arguments = ::CommandLineToArgvW(command_line, &count);
  if (arguments == nullptr) return StartMode::kDropFolderDecides;
  bool dialog = false;
  for (int i = 1; i < count; ++i) {
    dialog = dialog || _wcsicmp(arguments[i], L"/dialog") == 0 ||
             std::wcscmp(arguments[i], L"--dialog") == 0;
  }
  ::LocalFree(arguments);
  return dialog ? StartMode::kDialog : StartMode::kDropFolderDecides;
}

}  // namespace
}  // namespace quorvane::win32

// The exit status tells a calling program how an automatic run ended (ui/run_outcome.h).
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  static_assert(sizeof(INITCOMMONCONTROLSEX) == 8);
  quorvane::win32::InitCommonControls();
  try {
    quorvane::win32::Win32Platform platform(instance);
    return quorvane::CQuorvaneApp(platform, quorvane::win32::StartModeOf(::GetCommandLineW()))
        .InitInstance();
  } catch (const std::bad_alloc&) {
    // Nothing is lost: the input file is deleted only once the result is whole.
    return quorvane::ExitStatus(quorvane::RunOutcome::kOutOfMemory);
  }
}
