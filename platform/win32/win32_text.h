// Text and path helpers shared by the Win32 backends.
//
// The core keeps its texts in the ANSI code page of the system it runs on;
// only texts the sources hold as UTF-8 (the Korean lines) are converted, to
// the code page the original program stored them in.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <string_view>

namespace platform::win32 {

// `text` (UTF-8) in code page `code_page`; the text unchanged when it is not
// valid UTF-8 or the code page is not installed.
inline std::string Utf8ToCodePage(std::string_view text, UINT code_page) {
  if (text.empty()) return {};
  const int n = static_cast<int>(text.size());
  const int wide_len =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), n, nullptr, 0);
  if (wide_len <= 0) return std::string(text);
  std::wstring wide(static_cast<size_t>(wide_len), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), n, wide.data(), wide_len);
  const int out_len =
      WideCharToMultiByte(code_page, 0, wide.data(), wide_len, nullptr, 0, nullptr, nullptr);
  if (out_len <= 0) return std::string(text);
  std::string out(static_cast<size_t>(out_len), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), wide_len, out.data(), out_len, nullptr, nullptr);
  return out;
}

// A wide text in the system's ANSI code page.
inline std::string WideToAnsi(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int out_len = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (out_len <= 0) return {};
  std::string out(static_cast<size_t>(out_len), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), out_len, nullptr, nullptr);
  return out;
}

// The core writes '/' as folder separator; several Win32 calls
// (LoadLibrary, SHCreateDirectoryEx) accept only '\'.
inline std::string NativePath(const char* path) {
  std::string p = path ? path : "";
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return p;
}

// The system's text for a GetLastError value, without the trailing line
// break; "error <n>" when the system has none.
inline std::string ErrorText(DWORD error) {
  char* buffer = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = n > 0 && buffer ? std::string(buffer, n) : std::string();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  if (text.empty()) text = "error " + std::to_string(error);
  return text;
}

}  // namespace platform::win32
