// A small host stand-in for the crash tests: it starts as ServerApp does
// (crash handler, then host logger) and then fails on purpose.
//
//   crs_crash_target MODE [--shift-days N]
//
// MODE: null-main, null-thread, overflow, abort, invalid-parameter, quiet
// (quiet filter, then a null write), two-threads (two threads fault at once),
// none (exit 0 after start-up). Names: host "CRASHHOST", instance "7_3".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "crs/crash_handler.h"
#include "hostlogger.h"
#include "platform/crash.h"
#include "platform/crash_io.h"

extern "C" {

// extern "C" and noinline so that the debugger names them plainly.
// A null pointer the compiler cannot see through, so the write is not
// turned into a trap instruction or dropped.
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

}  // extern "C"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s MODE [--shift-days N]\n", argv[0]);
    return 2;
  }
  std::string mode = argv[1];
  InstallCrashHandler("CRASHHOST", "ServerApp", "7_3");
  InitHostLogger("CRASHHOST", "ServerApp", "7_3");
  if (argc >= 4 && std::strcmp(argv[2], "--shift-days") == 0) {
    platform::SetCrashClockShift(std::atoll(argv[3]) * 86400000LL);
  }
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
