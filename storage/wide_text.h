#pragma once

// Text conversions at the Win32 boundary: inside, Quorvane holds UTF-8; the W functions take
// UTF-16, and the 8-bit shell functions answer in the process's ANSI code page.
#include "storage/windows_api.h"

#include <string>
#include <string_view>

namespace quorvane::win32 {

inline std::wstring ToWide(std::string_view text, UINT code_page = CP_UTF8) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int wide_length = ::MultiByteToWideChar(code_page, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  ::MultiByteToWideChar(code_page, 0, text.data(), length, wide.data(), wide_length);
  return wide;
}

inline std::string ToUtf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int length = static_cast<int>(wide.size());
  const int utf8_length =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(utf8_length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), utf8_length, nullptr,
                        nullptr);
  return utf8;
}

}  // namespace quorvane::win32
