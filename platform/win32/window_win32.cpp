// The window's own side on Win32: creation, the modal loop, timers, invoked
// closures, and what a message that arrives becomes for the handler.
#include "window_win32.h"

#include <cstdio>
#include <mutex>

#include "win32_text.h"

namespace platform {

void WindowHandler::OnPost(uint32_t, WParam, LParam) {}
LResult WindowHandler::OnSend(uint32_t, WParam, LParam, const CopyData&) {
  return 0;
}
void WindowHandler::OnTimer(uint64_t) {}

namespace win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"ServerAppMessageWindow";
constexpr wchar_t kObjectProperty[] = L"ServerApp.Window";

LRESULT CALLBACK PlainWindowProc(HWND hwnd, UINT msg, WPARAM w_param, LPARAM l_param) {
  if (msg == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l_param);
    static_cast<WindowImpl*>(create->lpCreateParams)->Attach(hwnd, false);
  }
  if (WindowImpl* window = WindowImpl::FromWindow(hwnd)) {
    LRESULT result = 0;
    if (window->HandleMessage(msg, w_param, l_param, &result)) return result;
  }
  return DefWindowProcW(hwnd, msg, w_param, l_param);
}

// Our own timers' ticks come here: DispatchMessage calls the timer
// procedure named in the system's WM_TIMER (its lParam), so a WM_TIMER that
// reaches a window procedure was posted by a program.
VOID CALLBACK OwnTimerProc(HWND hwnd, UINT, UINT_PTR timer_id, DWORD) {
  if (WindowImpl* window = WindowImpl::FromWindow(hwnd)) window->OnOwnTimer(timer_id);
}

bool RegisterPlainClass(std::string* error) {
  static std::once_flag once;
  static DWORD failure = 0;
  std::call_once(once, [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = PlainWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kWindowClass;
    if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      failure = GetLastError();
    }
  });
  if (failure != 0) *error = "cannot register the window class: " + ErrorText(failure);
  return failure == 0;
}

}  // namespace

WindowImpl::WindowImpl(WindowHandler& handler) : handler_(handler) {
  wake_event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

WindowImpl::~WindowImpl() {
  Close();
  std::lock_guard lock(mutex_);  // lets an End or Invoke in progress finish
  if (wake_event_ != nullptr) CloseHandle(wake_event_);
}

void WindowImpl::Close() {
  HWND hwnd;
  {
    // Other threads' Invoke reads hwnd_ under the lock.
    std::lock_guard lock(mutex_);
    hwnd = hwnd_;
    hwnd_ = nullptr;
  }
  if (hwnd == nullptr) return;
  // Unhooked first: the messages of the destruction reach no handler.
  RemovePropW(hwnd, kObjectProperty);
  if (dialog_) MainDialogDestroyed(this);
  for (uint64_t id : timers_) ::KillTimer(hwnd, static_cast<UINT_PTR>(id));
  timers_.clear();
  DestroyWindow(hwnd);
}

void WindowImpl::Attach(HWND hwnd, bool dialog) {
  hwnd_ = hwnd;
  dialog_ = dialog;
  SetPropW(hwnd, kObjectProperty, this);
}

WindowImpl* WindowImpl::FromWindow(HWND hwnd) {
  return static_cast<WindowImpl*>(GetPropW(hwnd, kObjectProperty));
}

LResult WindowImpl::Run() {
  while (!EndRequested()) {
    if (RunOneInvoked()) continue;
    MSG message;
    if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      // Only End ends this loop, as on POSIX; a stray WM_QUIT is dropped.
      if (message.message == WM_QUIT) continue;
      if (dialog_ && IsDialogMessageW(hwnd_, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
      continue;
    }
    MsgWaitForMultipleObjectsEx(1, &wake_event_, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
  std::lock_guard lock(mutex_);
  const LResult result = end_result_;
  end_result_ = 0;
  end_requested_.store(false, std::memory_order_release);
  return result;
}

void WindowImpl::End(LResult result) {
  std::lock_guard lock(mutex_);
  if (end_requested_.load(std::memory_order_relaxed)) return;
  end_result_ = result;
  end_requested_.store(true, std::memory_order_release);
  SetEvent(wake_event_);
}

bool WindowImpl::SetTimer(uint64_t timer_id, uint32_t period_ms) {
  if (period_ms == 0) return false;
  if (::SetTimer(hwnd_, static_cast<UINT_PTR>(timer_id), period_ms, OwnTimerProc) == 0) {
    std::fprintf(stderr, "window %llu: SetTimer failed: %s\n",
                 static_cast<unsigned long long>(handle()), ErrorText(GetLastError()).c_str());
    return false;
  }
  timers_.insert(timer_id);
  return true;
}

bool WindowImpl::KillTimer(uint64_t timer_id) {
  // WM_TIMER messages already queued stay in the queue; OnOwnTimer drops
  // those of timers no longer in the set.
  if (timers_.erase(timer_id) == 0) return false;
  ::KillTimer(hwnd_, static_cast<UINT_PTR>(timer_id));
  return true;
}

void WindowImpl::OnOwnTimer(uint64_t timer_id) {
  if (timers_.count(timer_id) != 0 && !EndRequested()) handler_.OnTimer(timer_id);
}

void WindowImpl::Invoke(std::function<void()> fn) {
  std::lock_guard lock(mutex_);
  invoked_.push_back(std::move(fn));
  SetEvent(wake_event_);
  // Only for loops other than ours; one wake-up message at a time keeps
  // a burst of closures from filling the thread's queue.
  if (!wake_posted_ && hwnd_ != nullptr) {
    wake_posted_ = PostMessageW(hwnd_, kWmInvoke, 0, 0) != FALSE;
  }
}

void WindowImpl::PostLocal(uint32_t msg, WParam w_param, LParam l_param) {
  Invoke([this, msg, w_param, l_param] { handler_.OnPost(msg, w_param, l_param); });
}

bool WindowImpl::RunOneInvoked() {
  std::function<void()> fn;
  {
    std::lock_guard lock(mutex_);
    if (invoked_.empty()) return false;
    fn = std::move(invoked_.front());
    invoked_.pop_front();
  }
  if (fn) fn();
  return true;
}

bool WindowImpl::HandleMessage(UINT msg, WPARAM w_param, LPARAM l_param, LRESULT* result) {
  *result = 0;
  switch (msg) {
    case WM_COPYDATA: {
      // The system copied the sender's data into this process; an empty
      // or missing block is an empty payload.
      const auto* block = reinterpret_cast<const COPYDATASTRUCT*>(l_param);
      CopyData copy;
      if (block != nullptr) {
        copy.dw_data = block->dwData;
        if (block->lpData != nullptr && block->cbData != 0) {
          copy.data = {static_cast<const std::byte*>(block->lpData), block->cbData};
        }
      }
      // lParam is the system's copy of the COPYDATASTRUCT, whose contents
      // the handler has in `copy`; it sees 0 there, as on POSIX.
      *result = handler_.OnSend(kWmCopyData, w_param, 0, copy);
      return true;
    }
    case WM_TIMER:
      // Posted by a program (our own timers tick through OwnTimerProc): a
      // posted message like any other, as the POSIX window delivers it.
      if (!EndRequested()) handler_.OnPost(WM_TIMER, w_param, static_cast<LParam>(l_param));
      return true;
    case kWmInvoke: {
      {
        std::lock_guard lock(mutex_);
        wake_posted_ = false;
      }
      while (!EndRequested() && RunOneInvoked()) {
      }
      return true;
    }
    default:
      break;
  }
  if (msg < WM_USER) return false;
  // Sent from another thread: its sender waits for the answer. Everything
  // else in the user range was posted.
  if ((InSendMessageEx(nullptr) & ISMEX_SEND) != 0) {
    *result = handler_.OnSend(msg, w_param, l_param, CopyData{});
  } else {
    handler_.OnPost(msg, w_param, static_cast<LParam>(l_param));
  }
  return true;
}

}  // namespace win32

std::unique_ptr<Window> Window::Create(WindowHandler& handler, WindowHandle wanted,
                                       std::string* error) {
  auto fail = [error](std::string reason) -> std::unique_ptr<Window> {
    if (error) *error = std::move(reason);
    return nullptr;
  };
  // Windows hands out window handles itself; a caller that must know the
  // handle in advance has no equivalent here.
  if (wanted != 0) {
    return fail("window handle " + std::to_string(wanted) +
                " cannot be chosen on Windows: the system picks the handle");
  }
  auto window = std::make_unique<win32::WindowImpl>(handler);
  if (!window->usable()) {
    return fail("cannot create the window's wake event: " + win32::ErrorText(GetLastError()));
  }
  std::string why;
  if (win32::CreateMainDialog(window.get(), &why)) return window;
  if (!why.empty()) return fail(why);
  if (!win32::RegisterPlainClass(&why)) return fail(why);
  // A message-only window: reachable by its handle from any process, never
  // shown, and not enumerated among the desktop's windows.
  const HWND hwnd = CreateWindowExW(0, win32::kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                    nullptr, GetModuleHandleW(nullptr), window.get());
  if (hwnd == nullptr) {
    return fail("cannot create a window: " + win32::ErrorText(GetLastError()));
  }
  return window;
}

}  // namespace platform
