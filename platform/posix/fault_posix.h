// The POSIX side of the fault-injection hook: a faulted call sets errno as
// the failing system call would, so the code above sees the usual failure.
#pragma once

#include <cerrno>

#include "platform/fault_injection.h"

namespace platform::posix {

// True (errno set) when the test has armed `p` to fail this call.
inline bool Faulted(fault::Point p) {
  if (const int error = fault::Check(p)) {
    errno = error;
    return true;
  }
  return false;
}

}  // namespace platform::posix
