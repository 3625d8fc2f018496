// The system services the manager link uses: window messages, the manager's
// process memory and the memory for fetched records. The base class makes
// the real calls; a test derives from it and fails the calls it chooses, so
// that every failure line of the link can be produced on demand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/process_memory.h"
#include "platform/window.h"

class ManagerLinkSystem {
 public:
  virtual ~ManagerLinkSystem() = default;

  virtual bool IsWindow(platform::WindowHandle window);
  virtual uint32_t GetWindowProcessId(platform::WindowHandle window);
  virtual std::unique_ptr<platform::ProcessMemory> OpenProcess(
      uint32_t pid, platform::ProcessMemoryAccess access);
  virtual bool PostMessage(platform::WindowHandle target, uint32_t msg, platform::WParam w_param,
                           platform::LParam l_param);
  // True when the target's handler answered (its result is not used).
  virtual bool SendCopyData(platform::WindowHandle target, platform::WindowHandle from,
                            uint64_t dw_data, std::span<const std::byte> data);

  // Memory for one fetched record; null when none can be had. Records are
  // byte-packed, so no alignment beyond the default is needed.
  virtual void* AllocateRecord(size_t size);
  virtual void FreeRecord(void* record);
};

// The real services, shared by every link that is not given its own.
ManagerLinkSystem& RealManagerLinkSystem();
