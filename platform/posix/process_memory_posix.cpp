// POSIX process memory: /proc/<pid>/mem stands in for the process handle and
// process_vm_readv / process_vm_writev move the bytes.
//
// Opening /proc/<pid>/mem makes the kernel check, at open time, that we may
// attach to the process (the same check process_vm_readv makes), so a denied
// access fails at Open as OpenProcess does, and the descriptor keeps the
// process's address space referenced until it is closed.
#include "platform/process_memory.h"

#include "fault_posix.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace platform {
namespace {

class PosixProcessMemory final : public ProcessMemory {
 public:
  PosixProcessMemory(pid_t pid, int fd, ProcessMemoryAccess access)
      : pid_(pid), fd_(fd), access_(access) {}
  ~PosixProcessMemory() override { close(fd_); }

  uint32_t pid() const override { return static_cast<uint32_t>(pid_); }

  bool Read(uint64_t address, void* buffer, size_t size) override {
    if (access_ != ProcessMemoryAccess::kRead || (buffer == nullptr && size > 0)) return false;
    if (posix::Faulted(fault::Point::kProcessRead)) return false;
    return Transfer(address, static_cast<char*>(buffer), size, /*write=*/false);
  }

  bool Write(uint64_t address, const void* data, size_t size) override {
    if (access_ != ProcessMemoryAccess::kWrite || (data == nullptr && size > 0)) return false;
    // process_vm_writev takes a non-const local iovec but only reads it.
    return Transfer(address, static_cast<char*>(const_cast<void*>(data)), size, /*write=*/true);
  }

 private:
  // The kernel may stop a transfer short at a page it cannot access: the
  // rest is tried again from there, and a call that moves nothing fails.
  bool Transfer(uint64_t address, char* local, size_t size, bool write) {
    if (address > UINTPTR_MAX || size > UINTPTR_MAX - address) return false;
    size_t done = 0;
    while (done < size) {
      iovec here{local + done, size - done};
      iovec there{reinterpret_cast<void*>(static_cast<uintptr_t>(address + done)), size - done};
      const ssize_t moved = write ? process_vm_writev(pid_, &here, 1, &there, 1, 0)
                                  : process_vm_readv(pid_, &here, 1, &there, 1, 0);
      if (moved < 0 && errno == EINTR) continue;
      if (moved <= 0) return false;
      done += static_cast<size_t>(moved);
    }
    return true;
  }

  const pid_t pid_;
  const int fd_;
  const ProcessMemoryAccess access_;
};

}  // namespace

std::unique_ptr<ProcessMemory> ProcessMemory::Open(uint32_t pid, ProcessMemoryAccess access) {
  if (pid == 0 || pid > static_cast<uint32_t>(INT_MAX)) return nullptr;
  char path[32];
  std::snprintf(path, sizeof(path), "/proc/%u/mem", pid);
  const int flags = (access == ProcessMemoryAccess::kRead ? O_RDONLY : O_WRONLY) | O_CLOEXEC;
  int fd;
  do {
    fd = open(path, flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixProcessMemory>(static_cast<pid_t>(pid), fd, access);
}

uint64_t CurrentProcessPrivateBytes() {
  FILE* status = std::fopen("/proc/self/status", "re");
  if (status == nullptr) return 0;
  uint64_t anon_kb = 0;
  uint64_t swap_kb = 0;
  bool found = false;
  char line[256];
  while (std::fgets(line, sizeof(line), status) != nullptr) {
    unsigned long long kb = 0;
    if (std::sscanf(line, "RssAnon: %llu kB", &kb) == 1) {
      anon_kb = kb;
      found = true;
    } else if (std::sscanf(line, "VmSwap: %llu kB", &kb) == 1) {
      swap_kb = kb;
    }
  }
  std::fclose(status);
  return found ? (anon_kb + swap_kb) * 1024 : 0;
}

}  // namespace platform
