// A private-profile reader with the Windows reader's rules (see settings.h).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "fault_posix.h"
#include "platform/settings.h"
#include "posixpath.h"

namespace platform {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

bool ReadWholeFile(const char* file, std::string* out) {
  const std::string path = posix::NativePath(file);
  if (posix::Faulted(fault::Point::kFileOpen)) return false;
  FILE* f = std::fopen(path.c_str(), "rbe");
  if (!f) return false;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// The value of section/key, or nothing when the file, section or key is missing.
std::optional<std::string> FindValue(const char* section, const char* key, const char* file) {
  if (!section || !key || !file) return std::nullopt;
  std::string text;
  if (!ReadWholeFile(file, &text)) return std::nullopt;
  const std::string_view want_section = Trim(section);
  const std::string_view want_key = Trim(key);
  std::string_view rest = text;
  bool in_section = false;
  bool section_seen = false;
  while (!rest.empty()) {
    const size_t eol = rest.find('\n');
    std::string_view line = Trim(rest.substr(0, eol));
    rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      const std::string_view name =
          Trim(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
      if (in_section) return std::nullopt;  // the first section of the name has no such key
      in_section = !section_seen && EqualNoCase(name, want_section);
      section_seen = section_seen || in_section;
      continue;
    }
    if (!in_section) continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (!EqualNoCase(Trim(line.substr(0, eq)), want_key)) continue;
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
  }
  return std::nullopt;
}

}  // namespace

unsigned int GetPrivateProfileInt(const char* section, const char* key, int default_value,
                                  const char* file) {
  const std::optional<std::string> value = FindValue(section, key, file);
  if (!value || value->empty()) return static_cast<unsigned int>(default_value);
  const char* p = value->c_str();
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  unsigned int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  }
  unsigned int result = 0;  // wraps like the 32-bit Windows reader
  for (;; ++p) {
    const int c = std::tolower(static_cast<unsigned char>(*p));
    unsigned int digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned int>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned int>(c - 'a' + 10);
    } else {
      break;
    }
    result = result * base + digit;
  }
  return negative ? 0u - result : result;
}

std::size_t GetPrivateProfileString(const char* section, const char* key, const char* default_value,
                                    char* out, std::size_t size, const char* file) {
  if (!out || size == 0) return 0;
  const std::optional<std::string> value = FindValue(section, key, file);
  const char* src = value ? value->c_str() : (default_value ? default_value : "");
  const size_t len = std::min(std::strlen(src), size - 1);
  std::memcpy(out, src, len);
  out[len] = '\0';
  return len;
}

}  // namespace platform
