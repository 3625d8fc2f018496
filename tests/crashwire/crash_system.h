// What a crash looks like on this system, for the crash tests through a real
// host (the exit a fault leaves: crs_test_support.h): how a fault is sent
// from outside, where the fallback CRS.ini lies and how
// a dump is read back. crash_system_posix.cpp and crash_system_win32.cpp
// answer; CMake picks one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "crs_test_support.h"

namespace crashwire {

using crs_test::Fault;
using crs_test::FaultExit;

// Faults the running process `pid` from outside, as an access violation
// (POSIX: SIGSEGV; Windows: a thread of its own started at address 0).
// False when it could not be sent.
bool FaultFromOutside(uint32_t pid);

// The CRS.ini the crash handler reads when none lies beside the program.
std::filesystem::path SystemCrsIni();

// File names of the host program and of the module in a deployment folder.
std::string HostFileName();
std::string ModuleFileName();

// The host's window thread as the system knows it, taken while the host
// runs (its window is gone after a crash): the thread id on Windows; 0 on
// POSIX, where the dump's frames tell the threads apart.
uint32_t WindowThreadOf(uint64_t window);

// Where a dump says the fault happened.
enum class FaultThread {
  kUnknown,
  kWindowThread,  // the host's window thread (POSIX: called from the console)
  kOtherThread,   // another thread of the host (POSIX: the update loop's)
};

// What the system's debugger reads from a dump of the host.
struct DumpReading {
  // POSIX: LLDB loaded it with the host's executable and names SIGSEGV.
  // Windows: a minidump with an access violation in its exception stream
  // and the host's executable in its module list.
  bool read = false;
  // The faulting instruction is the module's: POSIX, frame 0 is in
  // server_d_x64.so, in servercrash.cpp; Windows, the exception address
  // lies inside server_d_x64.dll's image.
  bool fault_in_module = false;
  FaultThread thread = FaultThread::kUnknown;
  // Threads in the dump, as every reader lists them (POSIX: LLDB and
  // Breakpad's minidump_stackwalk; Windows: the thread list); 0 when the
  // readers disagree.
  size_t threads = 0;
  // The thread that did not fault is there too, where it waits: after a
  // fault on the update thread, the window thread (POSIX: in the dialog's
  // modal loop); after one on the window thread, the update thread (POSIX:
  // in its loop). POSIX: both readers show it, minidump_stackwalk with the
  // symbols dump_syms made of the host and the module, and it names the
  // module's function on the faulting thread.
  bool other_thread_seen = false;
  // Breakpad's minidump_stackwalk reads the dump (Windows: the build
  // machine's Linux tool on Wine's dump) and its module list carries the
  // debug identifier (the build id) of the host and of the module, which
  // symbol stores match builds by.
  bool names_build = false;
  std::string text;  // what was read, for failure messages
};

// Reads `dump` of `program` (the dumped host's executable). window_thread
// is WindowThreadOf the host's window.
DumpReading ReadDump(const std::filesystem::path& program, const std::filesystem::path& dump,
                     uint32_t window_thread);

}  // namespace crashwire
