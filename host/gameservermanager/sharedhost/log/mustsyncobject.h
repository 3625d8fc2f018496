// The logger's locks: a critical section with a virtual destructor, and a
// scoped guard over it that also leaves when an exception passes.
#pragma once

#include <chrono>
#include <mutex>
#include <thread>

class CMustSyncObjectLog {
 public:
  CMustSyncObjectLog() = default;
  virtual ~CMustSyncObjectLog() = default;
  CMustSyncObjectLog(const CMustSyncObjectLog&) = delete;
  CMustSyncObjectLog& operator=(const CMustSyncObjectLog&) = delete;

  void Enter() { section_.lock(); }
  void Leave() { section_.unlock(); }
  // True when the lock was taken within `bound`. Polled rather than a timed
  // lock: only a few lines of a shutdown ever wait here, and every system
  // (and every sanitizer) knows a plain try.
  bool TryEnterFor(std::chrono::milliseconds bound) {
    const auto until = std::chrono::steady_clock::now() + bound;
    while (!section_.try_lock()) {
      if (std::chrono::steady_clock::now() >= until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

 private:
  std::recursive_mutex section_;  // a critical section: its owner may re-enter
};

// Holds the lock for one scope. With a bound, the lock is waited for at most
// that long and the scope goes on without it when the time runs out (held()
// tells which): for writers that must finish even when the owner was stopped
// for good.
class CMustSyncObjectGuard {
 public:
  explicit CMustSyncObjectGuard(CMustSyncObjectLog* lock) : lock_(lock) {
    if (lock_) lock_->Enter();
  }
  CMustSyncObjectGuard(CMustSyncObjectLog* lock, std::chrono::milliseconds bound) : lock_(lock) {
    if (lock_ && !lock_->TryEnterFor(bound)) lock_ = nullptr;
  }
  ~CMustSyncObjectGuard() {
    if (lock_) lock_->Leave();
  }
  CMustSyncObjectGuard(const CMustSyncObjectGuard&) = delete;
  CMustSyncObjectGuard& operator=(const CMustSyncObjectGuard&) = delete;

  bool held() const { return lock_ != nullptr; }

 private:
  CMustSyncObjectLog* lock_;
};
