// POSIX: errno, no stream cap, and UTF-8 as the 8-bit text.
#include <cerrno>

#include "platform/runtime.h"

namespace platform {
namespace {

constexpr uint32_t kUtf8CodePage = 65001;

}  // namespace

uint32_t LastSystemError() {
  return static_cast<uint32_t>(errno);
}

bool SetMaxOpenStreams(int /*count*/) {
  return true;
}

int MaxOpenStreams() {
  return -1;
}

uint32_t AnsiCodePage() {
  return kUtf8CodePage;
}

std::string Utf16ToAnsi(std::u16string_view text, std::size_t max_bytes) {
  return Utf16ToUtf8(text, max_bytes);
}

}  // namespace platform
