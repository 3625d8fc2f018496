// Crashes on Windows: a faulting thread started in the host from outside,
// the Windows folder's CRS.ini, and the minidump read with its own streams
// (LLDB, a Linux program, cannot read a MinGW program's debug information
// from a Windows minidump).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include "crash_system.h"

namespace crashwire {

bool FaultFromOutside(uint32_t pid) {
  HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                                   PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE,
                               FALSE, pid);
  if (process == nullptr) return false;
  // A thread that starts at address 0 faults at its first instruction; the
  // system hands the access violation to the process's unhandled-exception
  // filter as for any fault of its own.
  LPTHREAD_START_ROUTINE nowhere = nullptr;
  HANDLE thread = CreateRemoteThread(process, nullptr, 0, nowhere, nullptr, 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
  CloseHandle(process);
  return thread != nullptr;
}

std::filesystem::path SystemCrsIni() {
  char folder[MAX_PATH] = {};
  const UINT n = GetWindowsDirectoryA(folder, sizeof(folder));
  return std::filesystem::path(std::string(folder, n < sizeof(folder) ? n : 0)) / "CRS.ini";
}

uint32_t WindowThreadOf(uint64_t window) {
  return GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<uintptr_t>(window)), nullptr);
}

void ExpectReadable(const std::filesystem::path& program, const std::filesystem::path& dump,
                    uint32_t window_thread, FaultThread thread) {
  const crs_test::MinidumpFacts facts = crs_test::ReadMinidump(crs_test::ReadFile(dump));
  EXPECT_TRUE(facts.signature && facts.has_exception);
  EXPECT_EQ(crs_test::FaultCode(Fault::kAccessViolation), facts.exception_code);
  EXPECT_NE(nullptr, facts.FindModule(program.filename().string()));
  const auto* module = facts.FindModule(kModuleFile);
  ASSERT_NE(nullptr, module);
  EXPECT_LE(module->base, facts.exception_address);
  EXPECT_LT(facts.exception_address, module->end);
  ASSERT_NE(0u, window_thread);
  EXPECT_EQ(thread == FaultThread::kWindowThread, facts.exception_thread == window_thread);
  // The faulting thread and the window thread (the same one, or the other
  // thread beside it) are both in the list.
  EXPECT_LE(2u, facts.threads.size());
  EXPECT_TRUE(facts.Lists(facts.exception_thread));
  EXPECT_TRUE(facts.Lists(window_thread));
  // Breakpad's reader sees the same: the access violation, every thread,
  // and both images with the build ids their CodeView records carry. Wine's
  // MiniDumpWriteDump writes overlapping memory ranges (two threads' code
  // windows), which the reader reports and drops: not ours to fix.
  const crs_test::StackwalkReading walk = crs_test::Stackwalk(dump, {program});
  EXPECT_TRUE(walk.ran) << walk.text;
  EXPECT_EQ(0u, walk.crash_reason.rfind("EXCEPTION_ACCESS_VIOLATION", 0)) << walk.text;
  EXPECT_EQ(facts.threads.size(), walk.threads.size()) << walk.text;
  EXPECT_TRUE(walk.Identifies(kHostFile) && walk.Identifies(kModuleFile)) << walk.text;
}

}  // namespace crashwire
