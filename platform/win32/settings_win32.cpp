// Private-profile reads are the system's own GetPrivateProfileIntA and
// GetPrivateProfileStringA: the seam's rules are theirs. A bare file name
// ("CRS.ini") is looked up in the Windows folder, as the system does.
#include <algorithm>
#include <cstring>

#include "platform/settings.h"
#include "win32_text.h"

#undef GetPrivateProfileInt
#undef GetPrivateProfileString

namespace platform {

unsigned int GetPrivateProfileInt(const char* section, const char* key, int default_value,
                                  const char* file) {
  // The system answers the default for a missing section or key but reads a
  // null name as "every name": refuse those here.
  if (!section || !key || !file) return static_cast<unsigned int>(default_value);
  return ::GetPrivateProfileIntA(section, key, default_value, file);
}

std::size_t GetPrivateProfileString(const char* section, const char* key, const char* default_value,
                                    char* out, std::size_t size, const char* file) {
  if (!out || size == 0) return 0;
  if (!section || !key || !file) {
    // A null section or key would list the names instead of one value.
    const char* src = default_value ? default_value : "";
    const size_t len = std::min(std::strlen(src), size - 1);
    std::memcpy(out, src, len);
    out[len] = '\0';
    return len;
  }
  const DWORD capacity = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
  const DWORD n = ::GetPrivateProfileStringA(section, key, default_value ? default_value : "", out,
                                             capacity, file);
  out[n < capacity ? n : capacity - 1] = '\0';
  return n;
}

}  // namespace platform
