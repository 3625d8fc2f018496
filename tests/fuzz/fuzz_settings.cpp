// The settings-file reader over arbitrary file contents. Each input is
// written to one temporary file, made once per process (in /dev/shm when
// there is one: the reader opens the file on every call); the names asked for are the
// ones the host reads, plus a section and key taken from the input's first
// line, so that the fuzzer can reach matching entries.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/settings.h"

namespace {

char g_path[64];

void RemoveTempFile() {
  unlink(g_path);
}

// A plain array, not a std::string, so that it outlives the exit handler.
const char* TempPath() {
  if (g_path[0] == '\0') {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::snprintf(g_path, sizeof(g_path), "%s/fuzz_settings_XXXXXX", dir);
    const int fd = mkstemp(g_path);
    if (fd < 0) std::abort();
    close(fd);
    std::atexit(RemoveTempFile);
  }
  return g_path;
}

void Check(const char* section, const char* key, const char* file) {
  char out[16];
  std::memset(out, 'Z', sizeof(out));
  const size_t n = platform::GetPrivateProfileString(section, key, "dflt", out, 8, file);
  // Capacity 8: at most 7 bytes and the NUL, nothing written beyond.
  if (n > 7 || out[n] != '\0') std::abort();
  for (size_t i = 8; i < sizeof(out); ++i) {
    if (out[i] != 'Z') std::abort();
  }
  if (std::strlen(out) != n) std::abort();
  // Size 0 writes nothing at all.
  char untouched = 'Q';
  platform::GetPrivateProfileString(section, key, "dflt", &untouched, 0, file);
  if (untouched != 'Q') std::abort();
  (void)platform::GetPrivateProfileInt(section, key, -7, file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* path = TempPath();
  FILE* f = std::fopen(path, "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);

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
