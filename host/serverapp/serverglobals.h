// Process-wide state of the host shell: the module lock, the queue locks,
// the loaded module and the frame length. Created with the dialog and
// deleted with it (serverappdlg_shutdown.cpp).
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/library.h"
#include "platform/thread.h"

// The module lock: held around every call into the server object. It is
// recursive because a module may call back into the host, which may call
// the module again, on the same thread.
extern platform::RecursiveLock* g_csServer;
// One lock per queue of records for the update thread.
extern platform::RecursiveLock* g_csGameInfos;
extern platform::RecursiveLock* g_csUserInfos;

// The loaded server module; null when none.
extern platform::LibraryHandle g_hServerDll;

// Target frame length of the update thread in milliseconds (10000 while
// idle); written with atomic exchanges, read once per frame.
extern std::atomic<uint32_t> g_dwFrameInterval;

// True while a console command runs: the module's log lines then go to the
// console result list instead of the log files.
extern std::atomic<bool> g_bConsoleCommand;

// The module file: "server_d_x64.so" on POSIX, "server_d_x64.dll" on Windows.
const char* ServerModuleFileName();
