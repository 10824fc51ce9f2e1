// Reads the running main dialog from outside, as scripts/test-windows.sh needs while it drives the
// dialog with real keys: `dialog_probe focus` prints the id of the control that has the keyboard
// focus, `dialog_probe text ID` prints a control's text. Status 1 when no main dialog is open.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "storage/wide_text.h"
#include "ui/dialog_templates.h"

namespace {

// The window titled Quorvane that holds the output field: the main dialog, not a message box.
BOOL CALLBACK FindMainDialog(HWND window, LPARAM found) {
  wchar_t title[16] = {};
  ::GetWindowTextW(window, title, 16);
  if (std::wcscmp(title, L"Quorvane") != 0 ||
      ::GetDlgItem(window, quorvane::kIdOutput) == nullptr) {
    return TRUE;
  }
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  HWND dialog = nullptr;
  ::EnumWindows(&FindMainDialog, reinterpret_cast<LPARAM>(&dialog));
  if (dialog == nullptr || argc < 2) return 1;
  if (std::wcscmp(argv[1], L"focus") == 0) {
    GUITHREADINFO thread{};
    thread.cbSize = sizeof(thread);
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &thread)) return 1;
    std::printf("%d\n", thread.hwndFocus != nullptr ? ::GetDlgCtrlID(thread.hwndFocus) : 0);
    return 0;
  }
  if (std::wcscmp(argv[1], L"text") == 0 && argc == 3) {
    std::wstring text(4096, L'\0');
    const int length = ::GetDlgItemTextW(dialog, std::wcstol(argv[2], nullptr, 10), text.data(),
                                         static_cast<int>(text.size()));
    text.resize(static_cast<size_t>(length));
    std::printf("%s\n", quorvane::win32::ToUtf8(text).c_str());
    return 0;
  }
  return 1;
}
