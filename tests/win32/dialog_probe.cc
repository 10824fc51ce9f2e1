// Reads the running main dialog from outside, as scripts/test-windows.sh needs while it drives the
// dialog with real keys: `dialog_probe focus` prints the id of the control that has the keyboard
// focus, `dialog_probe text ID` prints a control's text, `dialog_probe fits` prints every button's,
// static text's and link's caption that its control is too narrow to show whole in the dialog's
// font ("clipped: ..."), every control not whole inside the dialog ("outside: ...") and every two
// that overlap ("overlap: ..."), or "ok". Status 1 when no main dialog is open.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

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

// The dialog's font as the dialog manager makes it from the template, so that text is measured
// here as the dialog draws it (the dialog's own font handle means nothing in this process).
HFONT TemplateFont() {
  const quorvane::FontTemplate& font = quorvane::MainDialogTemplate().font;
  HDC screen = ::GetDC(nullptr);
  const int pixels = ::MulDiv(font.point_size, ::GetDeviceCaps(screen, LOGPIXELSY), 72);
  ::ReleaseDC(nullptr, screen);
  return ::CreateFontW(-pixels, 0, 0, 0, font.weight, font.italic, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY, FF_DONTCARE,
                       quorvane::win32::ToWide(font.face).c_str());
}

// The width a control has for its caption: a check box loses its box and the gap after it, a push
// button its 3-D edges and a pixel inside each.
int RoomForText(HWND control, const wchar_t* class_name) {
  RECT client;
  ::GetClientRect(control, &client);
  int room = client.right - client.left;
  if (::lstrcmpiW(class_name, L"Button") == 0) {
    const LONG type = ::GetWindowLongW(control, GWL_STYLE) & 0xF;
    room -= type == BS_AUTOCHECKBOX ? ::GetSystemMetrics(SM_CXMENUCHECK) + 4
                                    : 2 * (::GetSystemMetrics(SM_CXEDGE) + 1);
  }
  return room;
}

struct Fits {
  HWND dialog;
  HFONT font;
  std::vector<std::pair<RECT, std::string>> seen;  // every control so far, by its text
  int problems = 0;
};

BOOL CALLBACK CheckFits(HWND control, LPARAM fits_pointer) {
  Fits& fits = *reinterpret_cast<Fits*>(fits_pointer);
  wchar_t class_name[16] = {};
  ::GetClassNameW(control, class_name, 16);
  std::wstring text(512, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(control, text.data(), 512)));
  const std::string name = std::string(quorvane::win32::ToUtf8(class_name)) + " \"" +
                           quorvane::win32::ToUtf8(text) + "\"";
  // Inside the dialog, and clear of every other control, shown or not.
  RECT rect;
  ::GetWindowRect(control, &rect);
  ::MapWindowPoints(nullptr, fits.dialog, reinterpret_cast<POINT*>(&rect), 2);
  RECT client;
  ::GetClientRect(fits.dialog, &client);
  if (rect.left < 0 || rect.top < 0 || rect.right > client.right || rect.bottom > client.bottom) {
    std::printf("outside: %s at %ld..%ld, the dialog is %ld wide\n", name.c_str(), rect.left,
                rect.right, client.right);
    ++fits.problems;
  }
  for (const auto& [other, other_name] : fits.seen) {
    RECT common;
    if (::IntersectRect(&common, &rect, &other)) {
      std::printf("overlap: %s and %s\n", name.c_str(), other_name.c_str());
      ++fits.problems;
    }
  }
  fits.seen.emplace_back(rect, name);

  const bool link = ::lstrcmpiW(class_name, L"SysLink") == 0;
  if (!link && ::lstrcmpiW(class_name, L"Button") != 0 && ::lstrcmpiW(class_name, L"Static") != 0) {
    return TRUE;
  }
  // A link's caption is marked up: only what lies between the tags is drawn.
  std::wstring shown;
  bool in_tag = false;
  for (wchar_t c : text) {
    if (c == L'<' || c == L'>') {
      in_tag = c == L'<';
    } else if (!in_tag) {
      shown += c;
    }
  }
  HDC dc = ::GetDC(control);
  HGDIOBJ old = ::SelectObject(dc, fits.font);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(control, dc);
  const int room = RoomForText(control, class_name);
  if (size.cx > room) {
    std::printf("clipped: %s needs %ld pixels, has %d\n", name.c_str(), size.cx, room);
    ++fits.problems;
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
    Fits fits{dialog, TemplateFont(), {}, 0};
    ::EnumChildWindows(dialog, &CheckFits, reinterpret_cast<LPARAM>(&fits));
    ::DeleteObject(fits.font);
    if (fits.problems == 0) std::printf("ok\n");
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
