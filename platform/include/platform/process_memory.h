// Another process's memory (OpenProcess with VM access, ReadProcessMemory,
// WriteProcessMemory) and this process's own private byte count
// (GetProcessMemoryInfo's PrivateUsage).
//
// Access rules are the system's: on POSIX the caller must be allowed to
// trace the target (same user, and with Yama's ptrace_scope 1 an ancestor
// or a process the target named with PR_SET_PTRACER). Nothing here throws;
// failures are answered by the return values described with each call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

enum class ProcessMemoryAccess {
  kRead,   // PROCESS_VM_READ
  kWrite,  // PROCESS_VM_OPERATION | PROCESS_VM_WRITE
};

// An open process, for reads or for writes of its memory. The system handle
// is closed when the object is destroyed.
class ProcessMemory {
 public:
  // Opens process `pid` for `access`; the handle is not inherited by child
  // processes. Answers null when pid is 0, no such process exists, or the
  // caller may not access its memory.
  static std::unique_ptr<ProcessMemory> Open(uint32_t pid, ProcessMemoryAccess access);

  virtual ~ProcessMemory() = default;
  ProcessMemory(const ProcessMemory&) = delete;
  ProcessMemory& operator=(const ProcessMemory&) = delete;

  virtual uint32_t pid() const = 0;

  // Copies `size` bytes at `address` in the process into `buffer`. Answers
  // true only when every byte was read; on false the buffer may hold a part
  // of the bytes. False when the object was opened for writing, the range
  // is not wholly mapped and readable, or the process has ended.
  virtual bool Read(uint64_t address, void* buffer, size_t size) = 0;

  // Copies `size` bytes from `data` to `address` in the process. Answers true
  // only when every byte was written; on false a part may have been written.
  // False when the object was opened for reading, the range is not wholly
  // mapped and writable, or the process has ended.
  virtual bool Write(uint64_t address, const void* data, size_t size) = 0;

 protected:
  ProcessMemory() = default;
};

// This process's private bytes: memory no other process shares, resident or
// swapped out. On POSIX RssAnon + VmSwap of /proc/self/status. Answers 0 when
// the system cannot tell.
uint64_t CurrentProcessPrivateBytes();

}  // namespace platform
