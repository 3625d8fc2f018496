#include "managerlink/linksystem.h"

#include <new>

bool ManagerLinkSystem::IsWindow(platform::WindowHandle window) {
  return platform::IsWindow(window);
}

uint32_t ManagerLinkSystem::GetWindowProcessId(platform::WindowHandle window) {
  return platform::GetWindowProcessId(window);
}

std::unique_ptr<platform::ProcessMemory> ManagerLinkSystem::OpenProcess(
    uint32_t pid, platform::ProcessMemoryAccess access) {
  return platform::ProcessMemory::Open(pid, access);
}

bool ManagerLinkSystem::PostMessage(platform::WindowHandle target, uint32_t msg,
                                    platform::WParam w_param, platform::LParam l_param) {
  return platform::PostMessage(target, msg, w_param, l_param);
}

bool ManagerLinkSystem::SendCopyData(platform::WindowHandle target, platform::WindowHandle from,
                                     uint64_t dw_data, std::span<const std::byte> data) {
  platform::LResult ignored = 0;
  return platform::SendCopyDataChecked(target, from, dw_data, data, &ignored);
}

void* ManagerLinkSystem::AllocateRecord(size_t size) {
  return ::operator new(size, std::nothrow);
}

void ManagerLinkSystem::FreeRecord(void* record) {
  ::operator delete(record);
}

ManagerLinkSystem& RealManagerLinkSystem() {
  static ManagerLinkSystem system;
  return system;
}
