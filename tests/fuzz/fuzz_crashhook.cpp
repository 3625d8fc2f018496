// The dialog's crash-report hooks for the fuzz targets. The dialog ends
// itself on the manager's terminate request or on the heartbeat watchdog by
// installing the quiet crash filter first; inside a fuzzer that filter would
// take over the signals the sanitizers report through. These definitions
// take the place of crashhook.cpp (the linker then leaves it out of
// serverapp_core) and count the requests instead.
#include "crashhook.h"

#include <atomic>

std::atomic<int> g_fuzzQuietFilterRequests{0};

void InstallCrashHandlerHook(const char*, const char*, const char*) {}

void InstallQuietCrashFilterHook() {
  g_fuzzQuietFilterRequests.fetch_add(1);
}
