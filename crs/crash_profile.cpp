#include "crs/crash_profile.h"

#include "platform/crash_io.h"

namespace crs {
namespace {

char g_text[kCrashProfileMaxSize];

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// True when [begin, end) equals name without regard to case.
bool SameName(const char* begin, const char* end, const char* name) {
  for (; begin < end; ++begin, ++name) {
    if (*name == '\0' || Lower(*begin) != Lower(*name)) return false;
  }
  return *name == '\0';
}

void Trim(const char*& begin, const char*& end) {
  while (begin < end && IsBlank(*begin)) ++begin;
  while (end > begin && IsBlank(end[-1])) --end;
}

unsigned int ParseInt(const char* p, const char* end, int default_value) {
  if (p < end && (*p == '"' || *p == '\'') && end - p >= 2 && end[-1] == *p) {
    ++p;
    --end;
  }
  while (p < end && IsBlank(*p)) ++p;
  if (p == end) return static_cast<unsigned int>(default_value);
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  unsigned int value = 0;
  if (end - p >= 2 && p[0] == '0' && Lower(p[1]) == 'x') {
    for (p += 2; p < end; ++p) {
      char c = Lower(*p);
      unsigned int d;
      if (c >= '0' && c <= '9') {
        d = static_cast<unsigned int>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        d = static_cast<unsigned int>(c - 'a' + 10);
      } else {
        break;
      }
      value = value * 16 + d;
    }
  } else {
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
      value = value * 10 + static_cast<unsigned>(*p - '0');
  }
  return negative ? 0u - value : value;
}

}  // namespace

unsigned int CrashProfileInt(const char* section, const char* key, int default_value,
                             const char* file) {
  intptr_t handle = platform::CrashFileOpenRead(file);
  if (handle == platform::kNoCrashFile) return static_cast<unsigned int>(default_value);
  size_t size = 0;
  while (size < sizeof(g_text)) {
    int64_t n = platform::CrashFileRead(handle, g_text + size, sizeof(g_text) - size);
    if (n <= 0) break;
    size += static_cast<size_t>(n);
  }
  platform::CrashFileClose(handle);

  const char* p = g_text;
  const char* end = g_text + size;
  bool seen_section = false;  // the first section of the name wins
  bool in_section = false;
  while (p < end) {
    const char* eol = p;
    while (eol < end && *eol != '\n') ++eol;
    const char* b = p;
    const char* e = eol;
    p = eol + 1;
    Trim(b, e);
    if (b == e || *b == ';') continue;
    if (*b == '[') {
      const char* close = b + 1;
      while (close < e && *close != ']') ++close;
      if (in_section) break;
      const char* nb = b + 1;
      const char* ne = close;
      Trim(nb, ne);
      in_section = !seen_section && SameName(nb, ne, section);
      seen_section = seen_section || in_section;
      continue;
    }
    if (!in_section) continue;
    const char* eq = b;
    while (eq < e && *eq != '=') ++eq;
    if (eq == e) continue;
    const char* kb = b;
    const char* ke = eq;
    Trim(kb, ke);
    if (!SameName(kb, ke, key)) continue;
    const char* vb = eq + 1;
    const char* ve = e;
    Trim(vb, ve);
    return ParseInt(vb, ve, default_value);
  }
  return static_cast<unsigned int>(default_value);
}

}  // namespace crs
