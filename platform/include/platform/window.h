// Windows and window messages: the stand-in for the parts of user32 that the
// host uses (a modal message loop, PostMessage, SendMessage with WM_COPYDATA,
// SetTimer, IsWindow, GetWindowThreadProcessId).
//
// A window belongs to the thread that created it. Its handlers run on that
// thread only, from Run() or, for sent messages, while that thread itself
// waits in SendCopyData. Handles are machine-wide: another process reaches a
// window by its handle alone. The wire format between processes is fixed in
// docs/window-messages.md and is a contract with programs outside this code.
//
// Nothing here throws; failures are answered by the return values described
// with each call. Nothing here is async-signal-safe: hand signals to a thread
// (sigwait) and call from there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace platform {

// A window handle: positive and below 2^31 for a live window; 0 is "none".
using WindowHandle = uint64_t;
// The Win32 message parameter types on a 64-bit build.
using WParam = uint64_t;
using LParam = int64_t;
using LResult = int64_t;

// Message numbers are the Win32 ones.
inline constexpr uint32_t kWmCopyData = 0x004A;
inline constexpr uint32_t kWmTimer = 0x0113;
inline constexpr uint32_t kWmUser = 0x0400;

// The handler's view of a WM_COPYDATA payload (COPYDATASTRUCT). data points
// into a buffer owned by the window; it is valid only during the call.
struct CopyData {
  uint64_t dw_data = 0;
  std::span<const std::byte> data;
};

// What a window does with the messages it receives. The defaults ignore the
// message and answer 0, like DefWindowProc for messages it does not know.
class WindowHandler {
 public:
  virtual ~WindowHandler() = default;

  // A posted message, in the order its sender posted it.
  virtual void OnPost(uint32_t msg, WParam w_param, LParam l_param);
  // A sent message (in practice WM_COPYDATA, whose w_param is the sender's
  // window). The result goes back to the sender.
  virtual LResult OnSend(uint32_t msg, WParam w_param, LParam l_param, const CopyData& copy);
  // A timer set with Window::SetTimer has elapsed (WM_TIMER, w_param = id).
  virtual void OnTimer(uint64_t timer_id);
};

// A window owned by the thread that creates it. Destroying the window (on
// its owner thread) removes it from the machine at once: IsWindow answers
// false from then on and waiting senders get 0.
class Window {
 public:
  // Creates a window with a handle chosen at random (retrying while the
  // handle is taken), or with `wanted` when it is not 0. handler must outlive
  // the window. Answers null, and a reason in *error when error is not null,
  // when no window could be created (wanted handle taken or invalid, no
  // sockets left). On Windows the system picks every handle, so a `wanted`
  // handle always answers null; and the first window of an executable that
  // carries dialog template 102 is that dialog (docs/window-messages.md).
  static std::unique_ptr<Window> Create(WindowHandler& handler, WindowHandle wanted = 0,
                                        std::string* error = nullptr);

  virtual ~Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  virtual WindowHandle handle() const = 0;

  // The modal loop: dispatches posted messages, sent messages, timers and
  // invoked closures on the calling thread (which must be the owner) until
  // End is called, then answers the value given to End. A window whose End
  // was called before Run returns at once. Run may be called again after
  // it returned; the end request is then cleared.
  virtual LResult Run() = 0;

  // Asks Run to return `result` once the current handler returns. Safe from
  // any thread; the first call since Run started wins.
  virtual void End(LResult result) = 0;

  // Takes the window off the machine at once, as destroying it does
  // (IsWindow answers false, senders waiting on it get 0, new posts and
  // sends to it fail, handle() answers 0), while the object lives on: End,
  // Invoke and PostLocal from other threads stay safe and reach nothing.
  // For a modal dialog whose loop has ended (the dialog framework destroys
  // its window there) and whose owner still has work to do before the
  // object goes. Owner thread only; Run is not called again afterwards.
  virtual void Close() = 0;

  // Starts (or restarts with a new period) timer `timer_id`: OnTimer(id)
  // runs on the owner every `period_ms` (at least 1) while Run runs. Owner
  // thread only. Answers false for a period of 0.
  virtual bool SetTimer(uint64_t timer_id, uint32_t period_ms) = 0;
  // Stops timer `timer_id`; no OnTimer for it runs after this returns.
  // Owner thread only. Answers false when no such timer runs.
  virtual bool KillTimer(uint64_t timer_id) = 0;

  // Runs `fn` on the owner thread from the loop, in the order of the calls.
  // Safe from any thread (not from a signal handler: hand signals to a
  // thread with sigwait first). Never blocks, never fails on a live window;
  // closures still queued when the window is destroyed are dropped.
  virtual void Invoke(std::function<void()> fn) = 0;

  // Queues a message for this window's own OnPost, as Invoke queues a
  // closure: unlike PostMessage to one's own handle, it never fails on a
  // full queue. Safe from any thread.
  virtual void PostLocal(uint32_t msg, WParam w_param, LParam l_param) = 0;

 protected:
  Window() = default;
};

// Posts a message to window `target` (PostMessage). Never blocks. Answers
// false when the window does not exist, its queue from this thread is full,
// or msg is WM_COPYDATA (which must be sent, as on Win32).
bool PostMessage(WindowHandle target, uint32_t msg, WParam w_param, LParam l_param);

// Sends WM_COPYDATA to `target` with w_param = `from` (the sender's window,
// or 0) and waits for the handler's result (SendMessage). While it waits, a
// thread that owns windows keeps handling messages sent to them, so two
// windows that send to each other from their handlers do not deadlock.
// Answers the result, or 0 when the window does not exist, dies or closes
// before it answered, or the payload is larger than one frame can carry.
LResult SendCopyData(WindowHandle target, WindowHandle from, uint64_t dw_data,
                     std::span<const std::byte> data);

// As SendCopyData, but tells "the handler answered 0" from "no answer":
// answers true and sets *result when the handler answered.
bool SendCopyDataChecked(WindowHandle target, WindowHandle from, uint64_t dw_data,
                         std::span<const std::byte> data, LResult* result);

// True when `handle` names a live window (IsWindow).
bool IsWindow(WindowHandle handle);

// The process id of the owner of window `handle`, or 0 when there is no
// such window (GetWindowThreadProcessId).
uint32_t GetWindowProcessId(WindowHandle handle);

}  // namespace platform
