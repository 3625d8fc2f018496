// What the dialog-driven fuzz targets link besides their own source: their
// libFuzzer start-up (fuzz_dialog_support.h), and the dialog's crash-report
// hooks. The dialog ends itself on the manager's terminate request or on
// the heartbeat watchdog by installing the quiet crash filter first; inside
// a fuzzer that filter would take over the signals the sanitizers report
// through. These definitions take the place of crashhook.cpp (the linker
// then leaves it out of serverapp_core) and count the requests instead.
#include "crashhook.h"

#include <atomic>

#include "fuzz_dialog_support.h"

std::atomic<int> g_fuzzQuietFilterRequests{0};

void InstallCrashHandlerHook(const char*, const char*, const char*) {}

void InstallQuietCrashFilterHook() {
  g_fuzzQuietFilterRequests.fetch_add(1);
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzzdlg::Initialize(argc, argv);
  return 0;
}
