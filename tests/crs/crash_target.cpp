// A host stand-in for the crash tests: it starts as ServerApp does (crash
// handler, then host logger, host "CRASHHOST", instance "7_3") and fails on
// purpose, with a thread named "parked" waiting beside the faulting one.
//
//   crs_crash_target MODE [--shift-days N] [--deny ptrace|clone]
//
// MODE: null-main, null-thread, overflow, abort, invalid-parameter, quiet
// (quiet filter, then a null write), two-threads, none (exit 0).

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "crash_target_system.h"
#include "crs/crash_handler.h"
#include "hostlogger.h"
#include "platform/crash.h"
#include "platform/crash_io.h"

extern "C" {

// extern "C" and noinline so that the debugger names them plainly. A null
// pointer the compiler cannot see through: the write is not made a trap.
int* volatile g_null_target = nullptr;

// Sanitizer builds must let the fault happen rather than report it first.
__attribute__((noinline, no_sanitize("undefined", "address", "thread"))) void CrashTargetNullWrite(
    int value) {
  *g_null_target = value;
}

// Deeper than any stack; volatile so that the bound is not folded away.
volatile int g_depth_limit = 1 << 30;

__attribute__((noinline, no_sanitize("undefined", "address", "thread"))) int CrashTargetRecurse(
    int depth) {
  if (depth > g_depth_limit) return 0;
  volatile char pad[512];
  pad[0] = static_cast<char>(depth);
  pad[511] = pad[0];
  return CrashTargetRecurse(depth + 1) + pad[511];
}

__attribute__((noinline)) void CrashTargetAbort() {
  std::abort();
}

std::atomic<bool> g_parked{false};
__attribute__((noinline)) void CrashTargetParked() {
  NameThisThread("parked");
  g_parked.store(true);
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // extern "C"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s MODE [--shift-days N]\n", argv[0]);
    return 2;
  }
  std::string mode = argv[1];
  InstallCrashHandler("CRASHHOST", "ServerApp", "7_3");
  InitHostLogger("CRASHHOST", "ServerApp", "7_3");
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--shift-days") == 0) {
      platform::SetCrashClockShift(std::atoll(argv[i + 1]) * 86400000LL);
    } else if (std::strcmp(argv[i], "--deny") == 0 && !DenyToThisProcess(argv[i + 1])) {
      return 2;
    }
  }
  std::thread(CrashTargetParked).detach();
  while (!g_parked.load()) std::this_thread::yield();
  std::fflush(stdout);

  if (mode == "null-main") {
    CrashTargetNullWrite(1);
  } else if (mode == "null-thread") {
    std::thread([] { CrashTargetNullWrite(2); }).join();
  } else if (mode == "overflow") {
    return CrashTargetRecurse(0);
  } else if (mode == "abort") {
    CrashTargetAbort();
  } else if (mode == "invalid-parameter") {
    InvalidParameterHandler(nullptr, nullptr, nullptr, 0, 0);
  } else if (mode == "quiet") {
    InstallQuietCrashFilter();
    CrashTargetNullWrite(3);
  } else if (mode == "two-threads") {
    std::thread a([] { CrashTargetNullWrite(4); });
    std::thread b([] { CrashTargetNullWrite(5); });
    a.join();
    b.join();
  } else if (mode != "none") {
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
  }
  return 0;
}
