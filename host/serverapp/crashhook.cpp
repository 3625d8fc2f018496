// Start-up's call into the crash-report library.
#include "crashhook.h"

#include "crs/crash_handler.h"

void InstallCrashHandlerHook(const char* host_name, const char* app_folder,
                             const char* instance_folder) {
  InstallCrashHandler(host_name, app_folder, instance_folder);
}

void InstallQuietCrashFilterHook() {
  InstallQuietCrashFilter();
}
