// Another process's memory through OpenProcess, ReadProcessMemory and
// WriteProcessMemory; private bytes from GetProcessMemoryInfo.

#include "process_memory_win32.h"

#include "platform/fault_injection.h"
#include "win32_text.h"

#include <psapi.h>

namespace platform {
namespace {

class Win32ProcessMemory final : public ProcessMemory {
 public:
  Win32ProcessMemory(uint32_t pid, HANDLE process, ProcessMemoryAccess access)
      : pid_(pid), process_(process), access_(access) {}
  ~Win32ProcessMemory() override { CloseHandle(process_); }

  uint32_t pid() const override { return pid_; }

  bool Read(uint64_t address, void* buffer, size_t size) override {
    if (int e = fault::Check(fault::Point::kProcessRead)) {
      SetLastError(static_cast<DWORD>(e));
      return false;
    }
    if (access_ != ProcessMemoryAccess::kRead || (buffer == nullptr && size > 0)) return false;
    if (!InRange(address, size)) return false;
    if (size == 0) return true;
    SIZE_T done = 0;
    // A range that is only partly readable fails (ERROR_PARTIAL_COPY).
    return ReadProcessMemory(process_, reinterpret_cast<const void*>(address), buffer, size,
                             &done) &&
           done == size;
  }

  bool Write(uint64_t address, const void* data, size_t size) override {
    if (access_ != ProcessMemoryAccess::kWrite || (data == nullptr && size > 0)) return false;
    if (!InRange(address, size)) return false;
    if (size == 0) return true;
    SIZE_T done = 0;
    return WriteProcessMemory(process_, reinterpret_cast<void*>(address), data, size, &done) &&
           done == size;
  }

 private:
  static bool InRange(uint64_t address, size_t size) {
    return address <= UINTPTR_MAX && size <= UINTPTR_MAX - address;
  }

  const uint32_t pid_;
  const HANDLE process_;
  const ProcessMemoryAccess access_;
};

}  // namespace

namespace win32 {

DWORD ProcessMemoryRights(ProcessMemoryAccess access) {
  return access == ProcessMemoryAccess::kRead ? PROCESS_VM_READ
                                              : PROCESS_VM_OPERATION | PROCESS_VM_WRITE;
}

}  // namespace win32

std::unique_ptr<ProcessMemory> ProcessMemory::Open(uint32_t pid, ProcessMemoryAccess access) {
  if (pid == 0) return nullptr;
  HANDLE process = OpenProcess(win32::ProcessMemoryRights(access), FALSE, pid);
  if (process == nullptr) return nullptr;
  return std::make_unique<Win32ProcessMemory>(pid, process, access);
}

uint64_t CurrentProcessPrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(GetCurrentProcess(),
                            reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                            sizeof(counters))) {
    return 0;
  }
  // The commit charge: PrivateUsage, or PagefileUsage (the same value on
  // Windows) where the system leaves PrivateUsage 0, as Wine does.
  return counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
}

}  // namespace platform
