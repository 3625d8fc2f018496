// The settings-file reader over arbitrary files; the input's first line may
// name a section and key, so that the fuzzer can reach matching entries.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "platform/settings.h"

using fuzz::Require;

namespace {

void Check(const char* section, const char* key, const char* file) {
  char out[16];
  std::memset(out, 'Z', sizeof(out));
  const size_t n = platform::GetPrivateProfileString(section, key, "dflt", out, 8, file);
  // Capacity 8: at most 7 bytes and the NUL, nothing written beyond.
  Require(n <= 7 && out[n] == '\0' && std::strlen(out) == n, "value past its capacity");
  for (size_t i = 8; i < sizeof(out); ++i) Require(out[i] == 'Z', "written past the buffer");
  // Size 0 writes nothing at all.
  char untouched = 'Q';
  platform::GetPrivateProfileString(section, key, "dflt", &untouched, 0, file);
  Require(untouched == 'Q', "size 0 wrote");
  (void)platform::GetPrivateProfileInt(section, key, -7, file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::ScratchFile file("settings");
  const char* path = file.Write(data, size);

  // "section key" from the first line, when it has that shape.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string first = text.substr(0, text.find('\n'));
  const size_t blank = first.find(' ');
  if (blank != std::string::npos && first.find('\0') == std::string::npos) {
    Check(first.substr(0, blank).c_str(), first.substr(blank + 1).c_str(), path);
  }
  Check("Setting", "Port", path);
  Check("CRS", "URL", path);
  Check("", "", path);
  return 0;
}
