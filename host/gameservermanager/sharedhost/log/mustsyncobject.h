// The logger's locks: a critical section with a virtual destructor, and a
// scoped guard over it that also leaves when an exception passes.
#pragma once

#include <mutex>

class CMustSyncObjectLog {
 public:
  CMustSyncObjectLog() = default;
  virtual ~CMustSyncObjectLog() = default;
  CMustSyncObjectLog(const CMustSyncObjectLog&) = delete;
  CMustSyncObjectLog& operator=(const CMustSyncObjectLog&) = delete;

  void Enter() { section_.lock(); }
  void Leave() { section_.unlock(); }

 private:
  std::recursive_mutex section_;  // a critical section: its owner may re-enter
};

class CMustSyncObjectGuard {
 public:
  explicit CMustSyncObjectGuard(CMustSyncObjectLog* lock) : lock_(lock) {
    if (lock_) lock_->Enter();
  }
  ~CMustSyncObjectGuard() {
    if (lock_) lock_->Leave();
  }
  CMustSyncObjectGuard(const CMustSyncObjectGuard&) = delete;
  CMustSyncObjectGuard& operator=(const CMustSyncObjectGuard&) = delete;

 private:
  CMustSyncObjectLog* lock_;
};
