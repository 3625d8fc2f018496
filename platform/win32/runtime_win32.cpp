// Win32: GetLastError, the runtime's _setmaxstdio, and the ANSI code page
// through WideCharToMultiByte(CP_ACP).
#include <cstdio>

#include "platform/runtime.h"
#include "win32_text.h"

namespace platform {
namespace {

// The bytes of one character (one or two UTF-16 units) in the ANSI code
// page; the code page's default character when it has none.
std::string OneCharacter(const wchar_t* units, int count) {
  char buffer[16];
  const int n =
      WideCharToMultiByte(CP_ACP, 0, units, count, buffer, sizeof(buffer), nullptr, nullptr);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string("?");
}

}  // namespace

uint32_t LastSystemError() {
  return static_cast<uint32_t>(GetLastError());
}

bool SetMaxOpenStreams(int count) {
  return _setmaxstdio(count) == count;
}

int MaxOpenStreams() {
  return _getmaxstdio();
}

uint32_t AnsiCodePage() {
  return static_cast<uint32_t>(GetACP());
}

std::string Utf16ToAnsi(std::u16string_view text, std::size_t max_bytes) {
  // Character by character, so that the cut never splits a double-byte
  // character of a code page such as 949.
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    wchar_t units[2] = {static_cast<wchar_t>(text[i]), 0};
    int count = 1;
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      units[1] = static_cast<wchar_t>(text[i + 1]);
      count = 2;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      units[0] = 0xFFFD;
    }
    const std::string bytes = OneCharacter(units, count);
    if (out.size() + bytes.size() > max_bytes) break;
    out += bytes;
    i += static_cast<std::size_t>(count);
  }
  return out;
}

}  // namespace platform
