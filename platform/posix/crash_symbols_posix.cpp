// The symbol handler of the crash text: POSIX has none to start. The stack
// walk reads /proc/self/maps itself (crash_stack_posix.cpp).
#include "platform/crash.h"

namespace platform {

uint32_t StartCrashSymbols() {
  return 0;
}

void StopCrashSymbols() {}

}  // namespace platform
