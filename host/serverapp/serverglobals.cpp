// Definitions of the host shell's process-wide state.
#include "serverglobals.h"

#include <string>

platform::RecursiveLock* g_csServer = nullptr;
platform::RecursiveLock* g_csGameInfos = nullptr;
platform::RecursiveLock* g_csUserInfos = nullptr;
platform::LibraryHandle g_hServerDll = nullptr;
std::atomic<uint32_t> g_dwFrameInterval{10000};
std::atomic<bool> g_bConsoleCommand{false};

const char* ServerModuleFileName() {
  static const std::string name = platform::LibraryFileName("server_d_x64");
  return name.c_str();
}
