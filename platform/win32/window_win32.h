// The Win32 window behind platform::Window, shared by the plain window and
// the main dialog (dialog_win32.cpp), which differ only in how the HWND is
// made and in the dialog's own messages.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// platform::PostMessage is ours; user32's macro would rename it.
#undef PostMessage

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "platform/window.h"

namespace platform::win32 {

// Wakes a message loop that is not ours (a message box, a window being
// moved) so that it still runs invoked closures; our own loop is woken by
// an event, which cannot fail on a full queue.
inline constexpr UINT kWmInvoke = WM_APP + 0x3A1;

// Payloads above this are refused, as the POSIX frame limit refuses them,
// so that both builds accept the same messages.
inline constexpr size_t kMaxCopyDataPayload = 4u << 20;

inline HWND ToHwnd(WindowHandle handle) {
  // User handles are 32-bit values; 64-bit Windows sign-extends them.
  return reinterpret_cast<HWND>(
      static_cast<intptr_t>(static_cast<int32_t>(static_cast<uint32_t>(handle))));
}
inline WindowHandle FromHwnd(HWND hwnd) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(hwnd));
}
// Handles that cannot name a window are never passed to user32, where a
// truncated 64-bit value could alias a live window.
inline bool IsPlausibleHandle(WindowHandle handle) {
  return handle != 0 && handle <= 0xFFFFFFFFull;
}

class WindowImpl final : public Window {
 public:
  explicit WindowImpl(WindowHandler& handler);
  ~WindowImpl() override;

  // Attaches the HWND made for this object (from WM_NCCREATE or
  // WM_INITDIALOG); `dialog` selects IsDialogMessage in the loop.
  void Attach(HWND hwnd, bool dialog);
  HWND hwnd() const { return hwnd_; }
  // False when the wake-up event could not be made (the window is unusable).
  bool usable() const { return wake_event_ != nullptr; }

  WindowHandle handle() const override { return FromHwnd(hwnd_); }  // 0 once closed
  LResult Run() override;
  void End(LResult result) override;
  void Close() override;
  bool SetTimer(uint64_t timer_id, uint32_t period_ms) override;
  bool KillTimer(uint64_t timer_id) override;
  void Invoke(std::function<void()> fn) override;
  void PostLocal(uint32_t msg, WParam w_param, LParam l_param) override;

  // Handles the messages every window of ours shares (WM_COPYDATA,
  // WM_TIMER, user messages, the invoke wake-up). Answers false for the
  // others, which the caller passes on to the default handling.
  bool HandleMessage(UINT msg, WPARAM w_param, LPARAM l_param, LRESULT* result);

  // The object behind one of our HWNDs, or null.
  static WindowImpl* FromWindow(HWND hwnd);

  // A tick of a timer set with SetTimer (the system calls the timer
  // procedure for those); WM_TIMER reaching the window procedure was posted
  // by someone and goes to OnPost, as on POSIX.
  void OnOwnTimer(uint64_t timer_id);

 private:
  bool EndRequested() const { return end_requested_.load(std::memory_order_acquire); }
  bool RunOneInvoked();

  WindowHandler& handler_;
  HWND hwnd_ = nullptr;
  bool dialog_ = false;
  HANDLE wake_event_ = nullptr;
  std::set<uint64_t> timers_;  // owner thread only

  std::mutex mutex_;
  std::deque<std::function<void()>> invoked_;
  bool wake_posted_ = false;
  std::atomic<bool> end_requested_{false};
  LResult end_result_ = 0;
};

// The main dialog (dialog_win32.cpp): when this executable carries dialog
// template 102 and no main dialog exists yet, makes it for `window` and
// answers true; answers false with *error set when the template exists but
// the dialog cannot be made, and false with *error empty when there is no
// template (the caller then makes a plain window).
bool CreateMainDialog(WindowImpl* window, std::string* error);
// The main dialog is gone (its window is being destroyed).
void MainDialogDestroyed(WindowImpl* window);

}  // namespace platform::win32
