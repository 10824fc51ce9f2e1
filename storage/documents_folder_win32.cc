#include "storage/windows_api.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "storage/folder_tree.h"
#include "storage/wide_text.h"

namespace quorvane {
namespace {

// GetProcAddress hands every function back under one type; the caller names the real one.
template <typename Function>
Function Resolve(HMODULE module, const char* name) {
  return module != nullptr
             ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
             : nullptr;
}

// The Documents folder as the shell keeps it for the user: the "Personal" value of the User Shell
// Folders key, which is where the known-folder lookup itself reads a moved or redirected folder,
// with %USERPROFILE% and the like expanded. Empty when it is missing or not text. Reading it
// costs nothing at start-up, where the shell's own DLL would load the whole windowing system with
// it (some 40 ms of every start under Wine).
std::wstring RegisteredDocumentsFolder() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                      0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return {};
  }
  DWORD type = 0;
  DWORD size = 0;
  std::wstring value;
  if (::RegQueryValueExW(key, L"Personal", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size >= sizeof(wchar_t)) {
    value.resize(size / sizeof(wchar_t) + 1);
    DWORD got = size;
    if (::RegQueryValueExW(key, L"Personal", nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                           &got) == ERROR_SUCCESS) {
      // Up to the first NUL: the stored string need not end in one, or may hold several.
      const std::wstring_view stored(value.data(),
                                     std::min<size_t>(got / sizeof(wchar_t), value.size()));
      value = std::wstring(stored.substr(0, stored.find(L'\0')));
    } else {
      value.clear();
    }
  }
  ::RegCloseKey(key);
  if (value.empty() || type != REG_EXPAND_SZ) return value;
  const DWORD length = ::ExpandEnvironmentStringsW(value.c_str(), nullptr, 0);
  if (length == 0) return {};
  std::wstring expanded(length, L'\0');
  const DWORD written = ::ExpandEnvironmentStringsW(value.c_str(), expanded.data(), length);
  if (written == 0 || written > length) return {};
  expanded.resize(written - 1);
  return expanded;
}

using GetKnownFolderPath = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
using TaskMemFree = void(WINAPI*)(void*);

// The shell's own answer, for a profile whose registered value is missing or unusable. The wide
// form of the query: the 8-bit one turns every character of the profile path outside the ANSI
// code page into "?", and the files would go astray. The folder need not exist yet: start-up
// makes it.
std::wstring KnownDocumentsFolder() {
  auto get = Resolve<GetKnownFolderPath>(::LoadLibraryW(L"shell32.dll"), "SHGetKnownFolderPath");
  auto free = Resolve<TaskMemFree>(::LoadLibraryW(L"ole32.dll"), "CoTaskMemFree");
  if (get == nullptr || free == nullptr) return {};
  PWSTR path = nullptr;
  std::wstring documents;
  if (SUCCEEDED(get(FOLDERID_Documents, KF_FLAG_DONT_VERIFY, nullptr, &path))) documents = path;
  free(path);
  return documents;
}

}  // namespace

DocumentsLookup LookUpDocumentsFolder() {
  DocumentsLookup lookup;
  std::string documents = win32::ToUtf8(RegisteredDocumentsFolder());
  if (!IsAbsolutePath(documents)) documents = win32::ToUtf8(KnownDocumentsFolder());
  if (documents.empty()) {
    lookup.problem = DocumentsLookup::Problem::kNoHome;
  } else if (!IsAbsolutePath(documents)) {
    lookup.problem = DocumentsLookup::Problem::kNotAbsolute;
    lookup.refused = std::move(documents);
  } else {
    lookup.path = std::move(documents);
  }
  return lookup;
}

}  // namespace quorvane
