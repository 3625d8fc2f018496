// What the POSIX crash backend keeps in CrashInfo::native. Private to it.
#pragma once

#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#include <ucontext.h>

namespace platform::crash_posix {

struct NativeFault {
  const siginfo_t* info;
  const ucontext_t* context;
};

// Writes value's decimal digits at out[at]; answers the index after them.
// Signal-safe: the crash path's numbers are formatted with it.
inline size_t AppendDecimal(uint64_t value, char* out, size_t at) {
  char digits[20];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out[at++] = digits[--n];
  return at;
}

}  // namespace platform::crash_posix
