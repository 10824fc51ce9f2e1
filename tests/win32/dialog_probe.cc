// Reads the running main dialog from outside, as scripts/test-windows.sh needs while it drives the
// dialog with real keys: `dialog_probe focus` prints the id of the control that has the keyboard
// focus, `dialog_probe text ID` prints a control's text, `dialog_probe fits` prints every button's
// and static text's caption that its control is too narrow to show whole ("clipped: ..."), or
// "ok". Status 1 when no main dialog is open.
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

// The width a control has for its caption: a check box loses its box and the gap after it, a push
// button its edges.
int RoomForText(HWND control, const wchar_t* class_name) {
  RECT client;
  ::GetClientRect(control, &client);
  int room = client.right - client.left;
  if (::lstrcmpiW(class_name, L"Button") == 0) {
    const LONG type = ::GetWindowLongW(control, GWL_STYLE) & 0xF;
    room -= type == BS_AUTOCHECKBOX ? ::GetSystemMetrics(SM_CXMENUCHECK) + 4 : 6;
  }
  return room;
}

BOOL CALLBACK CheckFits(HWND control, LPARAM clipped) {
  wchar_t class_name[16] = {};
  ::GetClassNameW(control, class_name, 16);
  if (::lstrcmpiW(class_name, L"Button") != 0 && ::lstrcmpiW(class_name, L"Static") != 0) {
    return TRUE;
  }
  std::wstring text(512, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(control, text.data(), 512)));
  HDC dc = ::GetDC(control);
  HGDIOBJ old =
      ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)));
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(control, dc);
  const int room = RoomForText(control, class_name);
  if (size.cx > room) {
    std::printf("clipped: \"%s\" needs %ld pixels, has %d\n", quorvane::win32::ToUtf8(text).c_str(),
                size.cx, room);
    ++*reinterpret_cast<int*>(clipped);
  }
  return TRUE;
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
  if (std::wcscmp(argv[1], L"fits") == 0) {
    int clipped = 0;
    ::EnumChildWindows(dialog, &CheckFits, reinterpret_cast<LPARAM>(&clipped));
    if (clipped == 0) std::printf("ok\n");
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
