// Named shared memory with the Win32 lifetime, on shm_open.
//
// Every holder keeps a shared flock on its object. Creating, opening and
// closing run under one machine-wide guard (an exclusive flock on a guard
// object of the same namespace), so that "nobody holds it" can be decided
// without a race: an object that can be locked exclusively under the guard
// has no holder left. The kernel drops the flocks of a process that dies,
// which is what makes a table left by dead instances stale.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "fault_posix.h"
#include "platform/shm.h"

namespace platform {

struct SharedMemory {
  int fd = -1;
  std::size_t size = 0;
  bool writable = false;
  std::string name;
};

namespace {

bool ValidChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.';
}

// "/u<uid>[.<session>].<name>", or empty when `name` is not a valid name.
std::string PosixName(const char* name) {
  if (!name || !*name) return {};
  for (const char* p = name; *p; ++p) {
    if (!ValidChar(*p)) return {};
  }
  std::string full = "/u" + std::to_string(::getuid());
  if (const char* session = ::getenv("SERVERAPP_SHM_SESSION"); session && *session) {
    full += '.';
    for (const char* p = session; *p; ++p) full += ValidChar(*p) ? *p : '_';
  }
  full += '.';
  full += name;
  return full.size() < 250 ? full : std::string();
}

int Flock(int fd, int op) {
  int rc;
  do {
    rc = ::flock(fd, op);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

// Holds the machine-wide guard for one scope. The guard object stays open
// for the life of the process (reopened after a fork: a child must not share
// its parent's open file, or their locks would be one). flock does not
// exclude threads sharing one open file, so a mutex serialises this
// process's threads first. If the guard cannot be had the operation goes on
// without it: a rare race beats no shared memory at all.
class Guard {
 public:
  Guard() : lock_(Mutex()) {
    static int fd = -1;
    static pid_t owner = -1;
    if (owner != ::getpid()) {
      if (fd >= 0) ::close(fd);
      const std::string name = PosixName("serverapp-shm-guard");
      fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      owner = ::getpid();
    }
    fd_ = fd;
    if (fd_ >= 0) Flock(fd_, LOCK_EX);
  }
  ~Guard() {
    if (fd_ >= 0) Flock(fd_, LOCK_UN);
  }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  static std::mutex& Mutex() {
    static std::mutex m;
    return m;
  }
  std::lock_guard<std::mutex> lock_;
  int fd_ = -1;
};

// True when nobody else holds `fd`'s object (its exclusive lock was free).
// The lock taken is released again before the answer.
bool Unheld(int fd) {
  if (Flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
  Flock(fd, LOCK_UN);
  return true;
}

SharedMemory* Adopt(int fd, const std::string& name, bool writable) {
  if (Flock(fd, LOCK_SH | LOCK_NB) != 0) {
    ::close(fd);
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return nullptr;
  }
  auto* memory = new SharedMemory;
  memory->fd = fd;
  memory->size = static_cast<std::size_t>(st.st_size);
  memory->writable = writable;
  memory->name = name;
  return memory;
}

}  // namespace

SharedMemory* CreateSharedMemory(const char* name, std::size_t size, bool* already_existed) {
  if (already_existed) *already_existed = false;
  if (posix::Faulted(fault::Point::kShmCreate)) return nullptr;
  const std::string full = PosixName(name);
  if (full.empty() || size == 0) return nullptr;
  Guard guard;
  int fd = ::shm_open(full.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 && errno == EEXIST) {
    fd = ::shm_open(full.c_str(), O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    if (!Unheld(fd)) {
      if (already_existed) *already_existed = true;
      return Adopt(fd, full, true);
    }
    // Left by holders that all died: it is gone, as a Win32 mapping would be.
    ::close(fd);
    ::shm_unlink(full.c_str());
    fd = ::shm_open(full.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  }
  if (fd < 0) return nullptr;
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    ::close(fd);
    ::shm_unlink(full.c_str());
    return nullptr;
  }
  SharedMemory* memory = Adopt(fd, full, true);
  if (!memory) ::shm_unlink(full.c_str());
  return memory;
}

SharedMemory* OpenSharedMemory(const char* name, bool writable) {
  if (posix::Faulted(fault::Point::kShmOpen)) return nullptr;
  const std::string full = PosixName(name);
  if (full.empty()) return nullptr;
  Guard guard;
  const int fd = ::shm_open(full.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  if (Unheld(fd)) {
    ::close(fd);
    ::shm_unlink(full.c_str());
    return nullptr;
  }
  return Adopt(fd, full, writable);
}

void* MapSharedMemory(SharedMemory* memory, std::size_t size, bool writable) {
  if (posix::Faulted(fault::Point::kShmMap)) return nullptr;
  if (!memory || (writable && !memory->writable)) return nullptr;
  const std::size_t length = size ? size : memory->size;
  if (length == 0 || length > memory->size) return nullptr;
  void* view =
      ::mmap(nullptr, length, PROT_READ | (writable ? PROT_WRITE : 0), MAP_SHARED, memory->fd, 0);
  return view == MAP_FAILED ? nullptr : view;
}

void UnmapSharedMemory(SharedMemory* memory, void* view, std::size_t size) {
  if (!view) return;
  const std::size_t length = size ? size : (memory ? memory->size : 0);
  if (length) ::munmap(view, length);
}

void CloseSharedMemory(SharedMemory* memory) {
  if (!memory) return;
  {
    Guard guard;
    // The last holder is the one that can lock the object exclusively.
    if (Flock(memory->fd, LOCK_EX | LOCK_NB) == 0) ::shm_unlink(memory->name.c_str());
    ::close(memory->fd);
  }
  delete memory;
}

}  // namespace platform
