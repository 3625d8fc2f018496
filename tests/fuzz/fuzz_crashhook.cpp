// Linked into the dialog-driven fuzz targets: their libFuzzer start-up, and
// the dialog's crash-report hooks in place of crashhook.cpp. The quiet
// crash filter the dialog installs before ending itself would take over the
// signals the sanitizers report through, so its requests are counted.
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
