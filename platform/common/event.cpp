// The manual-reset event is plain standard C++, shared by every backend.
#include <chrono>

#include "platform/thread.h"

namespace platform {

void ManualResetEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  cv_.notify_all();
}

void ManualResetEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

bool ManualResetEvent::Wait(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (timeout_ms == kInfinite) {
    cv_.wait(lock, [this] { return signalled_; });
    return true;
  }
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return signalled_; });
}

bool ManualResetEvent::IsSet() {
  std::lock_guard<std::mutex> lock(mutex_);
  return signalled_;
}

}  // namespace platform
