// The receiving window of the window benchmarks: a window on a thread of
// its own that counts posts and answers a send with its payload size + 1.
#pragma once

#include <atomic>
#include <future>
#include <thread>

#include "platform/window.h"

namespace windowbench {

class Receiver : public platform::WindowHandler {
 public:
  Receiver() {
    std::promise<platform::Window*> created;
    thread_ = std::thread([&] {
      auto window = platform::Window::Create(*this);
      created.set_value(window.get());
      if (window) window->Run();
    });
    window_ = created.get_future().get();
  }
  ~Receiver() override {
    if (window_) window_->End(0);
    thread_.join();
  }
  bool ok() const { return window_ != nullptr; }
  platform::WindowHandle handle() const { return window_->handle(); }
  void OnPost(uint32_t, platform::WParam, platform::LParam) override {
    posts.fetch_add(1, std::memory_order_release);
  }
  platform::LResult OnSend(uint32_t, platform::WParam, platform::LParam,
                           const platform::CopyData& copy) override {
    return static_cast<platform::LResult>(copy.data.size()) + 1;
  }
  std::atomic<long> posts{0};

 private:
  platform::Window* window_ = nullptr;
  std::thread thread_;
};

}  // namespace windowbench
