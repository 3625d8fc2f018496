// The dialog targets' start-up and crash-report hooks: the quiet crash
// filter would take over the sanitizers' signals, so its requests are counted.
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
