// What a crash looks like on this system, for the crash tests through a real
// host (the exit a fault leaves: crs_test_support.h): how a fault is sent
// from outside, where the fallback CRS.ini lies and how a dump is read back.
// crash_system_posix.cpp and crash_system_win32.cpp answer; CMake picks one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "crs_test_support.h"

namespace crashwire {

using crs_test::Fault;
using crs_test::FaultExit;

inline constexpr char kHostFile[] = BY_SYSTEM("ServerApp", "ServerApp.exe");
inline constexpr char kModuleFile[] = BY_SYSTEM("server_d_x64.so", "server_d_x64.dll");

// Faults the running process `pid` from outside, as an access violation
// (POSIX: SIGSEGV; Windows: a thread of its own started at address 0).
// False when it could not be sent.
bool FaultFromOutside(uint32_t pid);

// The CRS.ini the crash handler reads when none lies beside the program.
std::filesystem::path SystemCrsIni();

// The host's window thread as the system knows it, taken while the host
// runs (its window is gone after a crash): the thread id on Windows; 0 on
// POSIX, where the dump's frames tell the threads apart.
uint32_t WindowThreadOf(uint64_t window);

// Which thread faulted.
enum class FaultThread {
  kWindowThread,  // the host's window thread (POSIX: called from the console)
  kOtherThread,   // another thread of the host (POSIX: the update loop's)
};

// Expects the system's readers (POSIX: LLDB and minidump_stackwalk with the
// symbols of the host and the module; Windows: the minidump's own streams
// and minidump_stackwalk) to read `dump` of `program` (the dumped host's
// executable): the access violation in the module's code on `thread`, the
// other thread where it waits, every thread, and the build ids (the debug
// identifiers symbol stores match builds by) of the host and the module.
// window_thread is WindowThreadOf the host's window.
void ExpectReadable(const std::filesystem::path& program, const std::filesystem::path& dump,
                    uint32_t window_thread, FaultThread thread);

}  // namespace crashwire
