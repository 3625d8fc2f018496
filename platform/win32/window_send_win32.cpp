// Messages to other windows on Win32: PostMessage, SendMessage with
// WM_COPYDATA, IsWindow and GetWindowThreadProcessId of user32.
#include "platform/fault_injection.h"
#include "window_win32.h"

namespace platform {

bool PostMessage(WindowHandle target, uint32_t msg, WParam w_param, LParam l_param) {
  if (int e = fault::Check(fault::Point::kWindowPost)) {
    SetLastError(static_cast<DWORD>(e));
    return false;
  }
  // WM_COPYDATA carries a pointer only SendMessage can marshal; user32
  // refuses to post it too (ERROR_MESSAGE_SYNC_ONLY).
  if (!win32::IsPlausibleHandle(target) || msg == kWmCopyData) return false;
  return PostMessageW(win32::ToHwnd(target), msg, static_cast<WPARAM>(w_param),
                      static_cast<LPARAM>(l_param)) != FALSE;
}

bool SendCopyDataChecked(WindowHandle target, WindowHandle from, uint64_t dw_data,
                         std::span<const std::byte> data, LResult* result) {
  if (!win32::IsPlausibleHandle(target) || data.size() > win32::kMaxCopyDataPayload) {
    return false;
  }
  COPYDATASTRUCT block{};
  block.dwData = static_cast<ULONG_PTR>(dw_data);
  block.cbData = static_cast<DWORD>(data.size());
  block.lpData = data.empty() ? nullptr : const_cast<std::byte*>(data.data());
  // SendMessageTimeout rather than SendMessage only because it tells a
  // failed send (no window, its thread ended before answering) from a
  // handler that answered 0. There is no time-out: like SendMessage, the
  // call waits as long as a live handler works, and handles messages sent
  // to this thread's own windows meanwhile.
  DWORD_PTR answer = 0;
  if (SendMessageTimeoutW(win32::ToHwnd(target), WM_COPYDATA, static_cast<WPARAM>(from),
                          reinterpret_cast<LPARAM>(&block), SMTO_NORMAL, INFINITE, &answer) == 0) {
    return false;
  }
  if (result) *result = static_cast<LResult>(answer);
  return true;
}

LResult SendCopyData(WindowHandle target, WindowHandle from, uint64_t dw_data,
                     std::span<const std::byte> data) {
  LResult result = 0;
  return SendCopyDataChecked(target, from, dw_data, data, &result) ? result : 0;
}

bool IsWindow(WindowHandle handle) {
  return win32::IsPlausibleHandle(handle) && ::IsWindow(win32::ToHwnd(handle)) != FALSE;
}

uint32_t GetWindowProcessId(WindowHandle handle) {
  if (!win32::IsPlausibleHandle(handle)) return 0;
  DWORD pid = 0;
  if (GetWindowThreadProcessId(win32::ToHwnd(handle), &pid) == 0) return 0;
  return pid;
}

}  // namespace platform
