// Path spelling on POSIX: the host's code and data keep Windows spellings
// (".\Setting.ini"), so every backend that takes a path turns backslashes
// into slashes first.
#pragma once

#include <string>

namespace platform::posix {

inline std::string NativePath(const char* path) {
  std::string p = path ? path : "";
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  return p;
}

}  // namespace platform::posix
