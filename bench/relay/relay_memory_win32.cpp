// Memory from GetProcessMemoryInfo on a handle of the host process. Windows
// keeps no per-thread run-queue time, so that figure is not available.
#include <windows.h>
// psapi.h needs windows.h first.
#include <psapi.h>

#include "relay_memory.h"

namespace relaybench {

const char* MemoryFigures() {
  return "working set (private bytes)";
}

Memory MemoryOf(uint32_t pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (process == nullptr) return {};
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  const BOOL read = GetProcessMemoryInfo(
      process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
  CloseHandle(process);
  if (!read) return {};
  // The commit charge is PrivateUsage; Wine leaves it 0 and fills
  // PagefileUsage, which Windows gives the same value (docs/windows.md).
  const SIZE_T own = counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
  return {static_cast<long>(counters.WorkingSetSize / 1024), static_cast<long>(own / 1024)};
}

double RunQueueWaitMs(uint32_t) {
  return -1;
}

}  // namespace relaybench
