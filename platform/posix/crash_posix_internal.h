// What the POSIX crash backend keeps in CrashInfo::native. Private to it.
#pragma once

#include <signal.h>
#include <ucontext.h>

namespace platform::crash_posix {

struct NativeFault {
  const siginfo_t* info;
  const ucontext_t* context;
};

}  // namespace platform::crash_posix
