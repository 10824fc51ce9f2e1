#include "platform/win32/main_dialog.h"

#include <commctrl.h>
#include <initguid.h>  // defines the oleacc GUIDs here, so no import library is needed for them
#include <oleacc.h>
#include <shellapi.h>

#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "storage/wide_text.h"
#include "ui/caption_fit.h"
#include "ui/dialog_templates.h"
#include "ui/quorvane_dlg.h"
#include "ui/texts.h"

namespace quorvane::win32 {
namespace {

// The dialog resource in the language of the texts, asked for by name: the loader's own choice
// follows rules of its own (under Wine 8 not the user interface language at all).
HRSRC FindDialog(HINSTANCE instance, int id) {
  const WORD language = CurrentLanguage() == Language::kJapanese
                            ? MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)
                            : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  return ::FindResourceExW(instance, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(id), language);
}

// The dialog resource, copied so that it can be created hidden: its initialisation may end it
// (automatic processing), and then it must never appear. Empty when the resource is missing.
std::vector<DWORD> LoadHiddenTemplate(HINSTANCE instance, int id) {
  HRSRC resource = FindDialog(instance, id);
  if (resource == nullptr) return {};
  HGLOBAL loaded = ::LoadResource(instance, resource);
  const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  const DWORD size = ::SizeofResource(instance, resource);
  constexpr size_t kStyleOffset = 12;  // after dlgVer, signature, helpID and exStyle
  if (data == nullptr || size < kStyleOffset + sizeof(DWORD)) return {};
  std::vector<DWORD> copy((size + sizeof(DWORD) - 1) / sizeof(DWORD));
  std::memcpy(copy.data(), data, size);
  copy[kStyleOffset / sizeof(DWORD)] &= ~static_cast<DWORD>(WS_VISIBLE);
  return copy;
}

// The width `control`, made from `control_template`, needs to show its caption whole in its own
// font: a text its extent; a check box its box and the gap after it as well; a push button the
// room inside its 3-D edges that keeps the caption clear of them (half a digit's width each side,
// the gap Windows keeps after a check box). 0 for a control without a caption.
int CaptionWidth(HWND control, const ControlTemplate& control_template) {
  const Growth growth = GrowthOf(control_template);
  if (growth != Growth::kText && growth != Growth::kButton) return 0;
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
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
  HGDIOBJ old =
      ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)));
  SIZE extent{};
  ::GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &extent);
  INT digit = 0;
  ::GetCharWidth32W(dc, L'0', L'0', &digit);
  ::SelectObject(dc, old);
  ::ReleaseDC(control, dc);
  if (growth == Growth::kButton) {
    return extent.cx + 2 * (::GetSystemMetrics(SM_CXEDGE) + digit / 2);
  }
  if (std::string_view(control_template.class_name) == "BUTTON") {
    // The gap is half a digit; as much again keeps the caption's end clear of the edge.
    return extent.cx + ::GetSystemMetrics(SM_CXMENUCHECK) + digit;
  }
  return extent.cx;
}

// Widens the controls of `dialog`, made from `dialog_template`, whose captions the dialog's font
// draws wider than the template allowed for (ui/caption_fit.h). The controls are the dialog's
// children in creation order, which is the template's.
void FitControlsToText(HWND dialog, const DialogTemplate& dialog_template) {
  std::vector<HWND> controls;
  std::vector<FitBox> boxes;
  HWND control = ::GetWindow(dialog, GW_CHILD);
  for (const ControlTemplate& control_template : dialog_template.controls) {
    // A dialog that is not the template's as expected is left as it is.
    if (control == nullptr || ::GetDlgCtrlID(control) != control_template.id) return;
    RECT rect;
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    controls.push_back(control);
    boxes.push_back({rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                     CaptionWidth(control, control_template), GrowthOf(control_template)});
    control = ::GetWindow(control, GW_HWNDNEXT);
  }
  RECT client;
  ::GetClientRect(dialog, &client);
  RECT one_unit = {0, 0, 1, 0};  // the template's own gap between neighbouring controls
  ::MapDialogRect(dialog, &one_unit);
  std::vector<FitBox> fitted = boxes;
  FitToText(fitted, client.right, one_unit.right);
  for (size_t index = 0; index < controls.size(); ++index) {
    const FitBox& box = fitted[index];
    if (box.x == boxes[index].x && box.width == boxes[index].width) continue;
    ::SetWindowPos(controls[index], nullptr, box.x, box.y, box.width, box.height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

INT_PTR CALLBACK VersionDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      FitControlsToText(window, VersionDialogTemplate());
      return TRUE;
    case WM_COMMAND:
      // OK, Enter, Escape and the close box: the dialog manager's usual ways out.
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        ::EndDialog(window, LOWORD(wparam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

// GetProcAddress hands every function back under one type; the caller names the real one.
template <typename Function>
Function Resolve(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

using CoInitializeExFunction = HRESULT(WINAPI*)(void* reserved, DWORD model);
using CoCreateInstanceFunction = HRESULT(WINAPI*)(REFCLSID, IUnknown*, DWORD, REFIID, void**);

// Names the fields that have no caption of their own for screen readers, through oleacc's dynamic
// annotation, which leaves the dialog template as it is. COM comes from ole32, loaded here and
// only here, so that an automatic run never loads it. Without it the fields simply stay unnamed.
void NameFieldsForScreenReaders(HWND window) {
  HMODULE ole32 = ::LoadLibraryW(L"ole32.dll");
  if (ole32 == nullptr) return;
  auto initialize = Resolve<CoInitializeExFunction>(ole32, "CoInitializeEx");
  auto create = Resolve<CoCreateInstanceFunction>(ole32, "CoCreateInstance");
  if (initialize == nullptr || create == nullptr) return;
  // The thread stays in COM until the process ends with the dialog.
  if (FAILED(initialize(nullptr, COINIT_APARTMENTTHREADED))) return;
  IAccPropServices* services = nullptr;
  if (FAILED(create(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                    reinterpret_cast<void**>(&services)))) {
    return;
  }
  for (const AccessibleName& entry : MainDialogAccessibleNames()) {
    services->SetHwndPropStr(::GetDlgItem(window, entry.id), static_cast<DWORD>(OBJID_CLIENT),
                             CHILDID_SELF, PROPID_ACC_NAME, ToWide(Text(entry.name)).c_str());
  }
  services->Release();
}

}  // namespace

MainDialog::MainDialog(HINSTANCE instance, CQuorvaneDlg& dialog, std::wstring caption)
    : instance_(instance),
      dialog_(dialog),
      caption_(std::move(caption)),
      icon_(::LoadIconW(instance, MAKEINTRESOURCEW(kIconGroupId))) {}

MainDialog::~MainDialog() {
  if (window_ != nullptr) ::DestroyWindow(window_);
}

std::optional<int> MainDialog::RunModal() {
  std::vector<DWORD> dialog_template = LoadHiddenTemplate(instance_, kMainDialogId);
  if (dialog_template.empty()) return std::nullopt;
  HWND window = ::CreateDialogIndirectParamW(
      instance_, reinterpret_cast<const DLGTEMPLATE*>(dialog_template.data()), nullptr,
      &MainDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  if (window == nullptr) return std::nullopt;

  if (!ended_) {
    FitControlsToText(window, MainDialogTemplate());
    NameFieldsForScreenReaders(window);
    ::ShowWindow(window, SW_SHOWNORMAL);
    // The first enabled, visible tab stop in template order (the exit button) takes the focus,
    // drawn from the start: the dialog manager would hide it until a key it sees is pressed.
    ::SendMessageW(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    if (HWND first = ::GetNextDlgTabItem(window, nullptr, FALSE)) ::SetFocus(first);
  }
  while (!ended_) {
    MSG message;
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      // Someone asked the whole thread to quit: end the run and leave the request for the caller.
      ::PostQuitMessage(static_cast<int>(message.wParam));
      result_ = -1;
      break;
    }
    Pump(message);
  }
  ::DestroyWindow(window_);
  window_ = nullptr;
  return result_;
}

void MainDialog::Pump(MSG& message) {
  const bool for_dialog =
      message.hwnd == window_ || (window_ != nullptr && ::IsChild(window_, message.hwnd));
  if (for_dialog && message.message == WM_KEYDOWN && TakeKeyDown(message)) return;
  // The keyboard filter comes first: a key-down goes straight to the focused control.
  if (for_dialog && OfferedToDialogManager(KindOf(message)) &&
      ::IsDialogMessageW(window_, &message)) {
    return;
  }
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

bool MainDialog::TakeKeyDown(const MSG& message) {
  const bool command = ::GetKeyState(VK_CONTROL) < 0 || ::GetKeyState(VK_MENU) < 0;
  if (message.wParam == VK_TAB && !command) {
    // From every control, a multi-line field included, to the next (Shift: the previous) tab
    // stop in template order, as the dialog manager would move it.
    ::SendMessageW(window_, WM_NEXTDLGCTL, ::GetKeyState(VK_SHIFT) < 0 ? 1 : 0, 0);
    return true;
  }
  // A multi-line edit inside a dialog closes it on Escape (it posts WM_CLOSE to the dialog);
  // the key does nothing else there, so it goes no further.
  wchar_t class_name[8] = {};
  return message.wParam == VK_ESCAPE &&
         ::GetClassNameW(message.hwnd, class_name, static_cast<int>(std::size(class_name))) > 0 &&
         ::lstrcmpiW(class_name, L"Edit") == 0;
}

INT_PTR CALLBACK MainDialog::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<MainDialog*>(lparam);
    ::SetWindowLongPtrW(window, DWLP_USER, lparam);
    self->window_ = window;
  }
  auto* self = reinterpret_cast<MainDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
  return self != nullptr ? self->OnMessage(message, wparam, lparam) : FALSE;
}

INT_PTR MainDialog::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      dialog_.AttachView(*this);
      return dialog_.OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
      return dialog_.OnCommand(LOWORD(wparam), static_cast<Notification>(HIWORD(wparam))) ? TRUE
                                                                                          : FALSE;
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<const NMHDR*>(lparam)) ? TRUE : FALSE;
    case WM_PAINT:
      return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_SETCURSOR:
      return OnSetCursor() ? TRUE : FALSE;
    default:
      return FALSE;
  }
}

bool MainDialog::OnPaint() {
  if (!::IsIconic(window_)) return false;  // the dialog manager paints the dialog itself
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(window_, &paint);
  ::SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const int icon_width = ::GetSystemMetrics(SM_CXICON);
  const int icon_height = ::GetSystemMetrics(SM_CYICON);
  RECT client;
  ::GetClientRect(window_, &client);
  const int x = (client.right - client.left - icon_width + 1) / 2;
  const int y = (client.bottom - client.top - icon_height + 1) / 2;
  ::DrawIcon(dc, x, y, icon_);
  ::EndPaint(window_, &paint);
  return true;
}

bool MainDialog::OnNotify(const NMHDR& header) {
  const int id = static_cast<int>(header.idFrom);
  if (id != kIdSiteLink && id != kIdShopLink) return false;
  if (header.code != NM_CLICK && header.code != NM_RETURN) return false;
  // A link without an address of its own leads to its caption, which is the address.
  const auto& link = reinterpret_cast<const NMLINK&>(header);
  std::wstring address = link.item.szUrl;
  if (address.empty()) {
    if (const ControlTemplate* control = FindControl(MainDialogTemplate(), id)) {
      address = ToWide(Text(control->text));
    }
  }
  ::ShellExecuteW(window_, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return true;
}

bool MainDialog::OnSetCursor() {
  if (wait_cursor_depth_ == 0) return false;
  ::SetCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // IDC_WAIT
  ::SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
  return true;
}

std::string_view MainDialog::GetText(int id) {
  HWND control = Control(id);
  const int length = ::GetWindowTextLengthW(control);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(control, text.data(), length + 1)));
  text_ = ToUtf8(text);
  return text_;
}

void MainDialog::SetText(int id, std::string_view text) {
  // An edit lays its whole text out again on every set, which a drop-folder run would pay for each
  // bar step although the percentage changes only a hundred times. Multi-line edits raise no
  // change notification for a set text, so leaving an equal text alone changes nothing else.
  if (GetText(id) == text) return;
  ::SetWindowTextW(Control(id), ToWide(text).c_str());
}

bool MainDialog::IsChecked(int id) {
  return ::SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainDialog::SetChecked(int id, bool checked) {
  ::SendMessageW(Control(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool MainDialog::Show(int id, bool visible) {
  return ::ShowWindow(Control(id), visible ? SW_SHOW : SW_HIDE) != 0;
}

bool MainDialog::IsVisible(int id) {
  return (::GetWindowLongW(Control(id), GWL_STYLE) & WS_VISIBLE) != 0;
}

void MainDialog::Enable(int id, bool enabled) { ::EnableWindow(Control(id), enabled); }

void MainDialog::SetProgressRange(int id, uint64_t maximum) {
  progress_scale_ = BarScale(maximum);
  ::SendMessageW(Control(id), PBM_SETRANGE32, 0, progress_scale_.maximum());
}

void MainDialog::SetProgressPos(int id, uint64_t position) {
  ::SendMessageW(Control(id), PBM_SETPOS, static_cast<WPARAM>(progress_scale_.Position(position)),
                 0);
}

void MainDialog::MessageBox(std::string_view text, MessageIcon icon) {
  ::MessageBoxW(window_, ToWide(text).c_str(), caption_.c_str(), MB_OK | static_cast<UINT>(icon));
}

void MainDialog::Beep(MessageIcon sound) { ::MessageBeep(static_cast<UINT>(sound)); }

void MainDialog::BeginWaitCursor() {
  ++wait_cursor_depth_;
  ::SetCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // IDC_WAIT
}

void MainDialog::EndWaitCursor() {
  if (wait_cursor_depth_ == 0) return;
  if (--wait_cursor_depth_ == 0) {
    ::SetCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)));  // IDC_ARROW
  }
}

void MainDialog::DrainMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) break;  // consumed; the run goes on
    Pump(message);
  }
}

void MainDialog::Pause(int milliseconds) { ::Sleep(static_cast<DWORD>(milliseconds)); }

void MainDialog::SetIcons() {
  ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
}

void MainDialog::ShowVersionDialog() {
  HRSRC resource = FindDialog(instance_, kVersionDialogId);
  HGLOBAL loaded = resource != nullptr ? ::LoadResource(instance_, resource) : nullptr;
  if (loaded == nullptr) return;
  ::DialogBoxIndirectParamW(instance_, static_cast<const DLGTEMPLATE*>(::LockResource(loaded)),
                            window_, &VersionDialogProc, 0);
}

void MainDialog::EndDialog(int result) {
  ended_ = true;
  result_ = result;
}

}  // namespace quorvane::win32
