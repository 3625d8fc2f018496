// Crashes on Windows: a faulting thread started in the host from outside,
// the Windows folder's CRS.ini, and the minidump read with its own streams
// (LLDB, a Linux program, cannot read a MinGW program's debug information
// from a Windows minidump).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <sstream>

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

DumpReading ReadDump(const std::filesystem::path& program, const std::filesystem::path& dump,
                     uint32_t window_thread) {
  DumpReading reading;
  const crs_test::MinidumpFacts facts = crs_test::ReadMinidump(crs_test::ReadWhole(dump));
  const auto* module = facts.FindModule(kModuleFile);
  std::ostringstream text;
  for (const auto& m : facts.modules)
    text << "module " << m.name << " at 0x" << std::hex << m.base << "\n";
  text << "exception 0x" << facts.exception_code << " at 0x" << facts.exception_address << std::dec
       << " on thread " << facts.exception_thread << " (window thread " << window_thread << "), "
       << facts.threads.size() << " threads\n";
  reading.read = facts.signature && facts.has_exception &&
                 facts.FindModule(program.filename().string()) != nullptr &&
                 facts.exception_code == crs_test::FaultCode(Fault::kAccessViolation);
  reading.fault_in_module = module != nullptr && module->base <= facts.exception_address &&
                            facts.exception_address < module->end;
  if (facts.has_exception && window_thread != 0) {
    reading.thread = facts.exception_thread == window_thread ? FaultThread::kWindowThread
                                                             : FaultThread::kOtherThread;
  }
  reading.threads = facts.threads.size();
  // The window thread when another faulted; else any thread but the faulting one.
  reading.other_thread_seen =
      facts.has_exception && facts.Lists(facts.exception_thread) &&
      (reading.thread == FaultThread::kOtherThread ? facts.Lists(window_thread)
                                                   : facts.threads.size() >= 2);
  // Breakpad's reader sees the same: the access violation, every thread,
  // and both images with the build ids their CodeView records carry. Wine's
  // MiniDumpWriteDump writes overlapping memory ranges (two threads' code
  // windows), which the reader reports and drops: not ours to fix.
  const crs_test::StackwalkReading walk = crs_test::Stackwalk(dump, {program});
  reading.read =
      reading.read && walk.ran && walk.crash_reason.rfind("EXCEPTION_ACCESS_VIOLATION", 0) == 0;
  if (walk.threads.size() != facts.threads.size()) reading.threads = 0;
  reading.names_build = walk.ran && walk.Identifies(kHostFile) && walk.Identifies(kModuleFile);
  reading.text = text.str() + walk.text;
  return reading;
}

}  // namespace crashwire
