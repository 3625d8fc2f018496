// Named shared memory on paging-file backed file mappings: the Win32
// lifetime (the object vanishes with its last handle) is the system's own.
//
// Names are used as given ("App_LogDataSize"), in the session's namespace.
// When SERVERAPP_SHM_SESSION is set (tests do, so that parallel runs do not
// meet) the name is prefixed with "<session>.".
#include <cstdlib>
#include <string>

#include "platform/fault_injection.h"
#include "platform/shm.h"
#include "win32_text.h"

namespace platform {

struct SharedMemory {
  HANDLE mapping = nullptr;
  std::size_t size = 0;
  bool writable = false;
};

namespace {

bool ValidChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.';
}

// The system name of `name`, or empty when `name` is not a valid name.
std::string SystemName(const char* name) {
  if (!name || !*name) return {};
  for (const char* p = name; *p; ++p) {
    if (!ValidChar(*p)) return {};
  }
  std::string full;
  if (const char* session = std::getenv("SERVERAPP_SHM_SESSION"); session && *session) {
    for (const char* p = session; *p; ++p) full += ValidChar(*p) ? *p : '_';
    full += '.';
  }
  full += name;
  return full.size() < MAX_PATH ? full : std::string();
}

// The size of an object this process did not create, as its creator gave
// it: NtQuerySection's SectionBasicInformation. When ntdll does not answer,
// the extent of a view of all of it, which the system rounds up to whole
// pages.
std::size_t MappedSize(HANDLE mapping) {
  struct SectionBasicInformation {
    void* base;
    ULONG attributes;
    LARGE_INTEGER size;
  };
  using QuerySectionFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const auto query = reinterpret_cast<QuerySectionFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySection")));
  if (query) {
    SectionBasicInformation info{};
    if (query(mapping, 0 /* SectionBasicInformation */, &info, sizeof(info), nullptr) >= 0 &&
        info.size.QuadPart > 0) {
      return static_cast<std::size_t>(info.size.QuadPart);
    }
  }
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (!view) return 0;
  MEMORY_BASIC_INFORMATION info{};
  const std::size_t size = VirtualQuery(view, &info, sizeof(info)) ? info.RegionSize : 0;
  UnmapViewOfFile(view);
  return size;
}

}  // namespace

SharedMemory* CreateSharedMemory(const char* name, std::size_t size, bool* already_existed) {
  if (already_existed) *already_existed = false;
  if (int e = fault::Check(fault::Point::kShmCreate)) {
    SetLastError(static_cast<DWORD>(e));
    return nullptr;
  }
  const std::string full = SystemName(name);
  if (full.empty() || size == 0) return nullptr;
  const auto size64 = static_cast<unsigned long long>(size);
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                      static_cast<DWORD>(size64 >> 32),
                                      static_cast<DWORD>(size64 & 0xFFFFFFFFu), full.c_str());
  if (!mapping) return nullptr;
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  auto* memory = new SharedMemory;
  memory->mapping = mapping;
  memory->size = existed ? MappedSize(mapping) : size;
  memory->writable = true;
  if (already_existed) *already_existed = existed;
  return memory;
}

SharedMemory* OpenSharedMemory(const char* name, bool writable) {
  if (int e = fault::Check(fault::Point::kShmOpen)) {
    SetLastError(static_cast<DWORD>(e));
    return nullptr;
  }
  const std::string full = SystemName(name);
  if (full.empty()) return nullptr;
  HANDLE mapping = OpenFileMappingA(writable ? FILE_MAP_READ | FILE_MAP_WRITE : FILE_MAP_READ,
                                    FALSE, full.c_str());
  if (!mapping) return nullptr;
  auto* memory = new SharedMemory;
  memory->mapping = mapping;
  memory->size = MappedSize(mapping);
  memory->writable = writable;
  return memory;
}

void* MapSharedMemory(SharedMemory* memory, std::size_t size, bool writable) {
  if (int e = fault::Check(fault::Point::kShmMap)) {
    SetLastError(static_cast<DWORD>(e));
    return nullptr;
  }
  if (!memory || (writable && !memory->writable)) return nullptr;
  const std::size_t length = size ? size : memory->size;
  if (length == 0 || length > memory->size) return nullptr;
  return MapViewOfFile(memory->mapping, writable ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, length);
}

void UnmapSharedMemory(SharedMemory*, void* view, std::size_t) {
  if (view) UnmapViewOfFile(view);
}

void CloseSharedMemory(SharedMemory* memory) {
  if (!memory) return;
  CloseHandle(memory->mapping);
  delete memory;
}

}  // namespace platform
