// Window helpers shared by the window tests.
#pragma once

#include <functional>
#include <future>
#include <thread>

#include "platform/window.h"

namespace platform {

inline constexpr uint32_t kTestMsg = kWmUser + 0x40;

// A handler made of functions, for tests that need only some of them.
struct FnHandler : WindowHandler {
  std::function<void(uint32_t, WParam, LParam)> post;
  std::function<LResult(uint32_t, WParam, LParam, const CopyData&)> send;
  std::function<void(uint64_t)> timer;
  void OnPost(uint32_t m, WParam w, LParam l) override {
    if (post) post(m, w, l);
  }
  LResult OnSend(uint32_t m, WParam w, LParam l, const CopyData& c) override {
    return send ? send(m, w, l, c) : 0;
  }
  void OnTimer(uint64_t id) override {
    if (timer) timer(id);
  }
};

// A window created and run on a thread of its own.
class WindowThread {
 public:
  explicit WindowThread(WindowHandler& handler) {
    std::promise<Window*> created;
    thread_ = std::thread([&] {
      auto window = Window::Create(handler);
      created.set_value(window.get());
      if (window) window->Run();
    });
    window_ = created.get_future().get();
  }
  ~WindowThread() {
    if (window_) window_->End(0);
    thread_.join();
  }
  WindowHandle handle() const { return window_->handle(); }

 private:
  Window* window_ = nullptr;
  std::thread thread_;
};

}  // namespace platform
