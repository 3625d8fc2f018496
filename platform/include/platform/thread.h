// Threads, events, locks and the 32-bit millisecond clock.
//
// These stand in for _beginthread, CreateEvent (manual reset), WaitFor-
// SingleObject, TerminateThread, critical sections and timeGetTime. The
// contract of each call says what it answers when the system refuses.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace platform {

// Wait time that never runs out.
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Milliseconds of a monotonic clock, truncated to 32 bits: it wraps to 0
// after about 49.7 days, like timeGetTime. Callers compare with 32-bit
// unsigned arithmetic. Never fails.
uint32_t TimeGetTime();

// A manual-reset event: once Set, every wait returns at once until Reset.
// Created non-signalled. All operations are thread-safe and never fail.
class ManualResetEvent {
 public:
  ManualResetEvent() = default;
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void Set();
  void Reset();
  // True when the event is (or becomes) signalled within timeout_ms;
  // false when the time ran out. 0 polls; kInfinite waits for ever.
  bool Wait(uint32_t timeout_ms);
  bool IsSet();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

// A recursive lock (a critical section): the owning thread may enter it
// again; it is free once every Enter has been matched by a Leave. The
// backend builds the system's own lock in place (a CRITICAL_SECTION on
// Windows, a recursive pthread mutex elsewhere).
class RecursiveLock {
 public:
  RecursiveLock();
  ~RecursiveLock();
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void Enter();
  void Leave();
  // True when the lock was taken without waiting.
  bool TryEnter();

 private:
  alignas(16) unsigned char native_[64];
};

// Holds a RecursiveLock for one scope.
class LockGuard {
 public:
  explicit LockGuard(RecursiveLock& lock) : lock_(lock) { lock_.Enter(); }
  ~LockGuard() { lock_.Leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  RecursiveLock& lock_;
};

// One thread of this process.
//
// Terminate is the POSIX answer to TerminateThread: a thread cannot be
// killed alone, so it is parked instead. A signal reserved for this
// (SIGRTMIN+5 on Linux) interrupts the thread wherever it is, and the
// handler, which lives in this library, blocks in sigsuspend for the rest of
// the process's life. From then on the thread executes no instruction at
// all, so the code it was running (a server module, say) may be unloaded.
// What the thread held stays held, as after TerminateThread: its locks are
// abandoned, its stack is never freed.
class Thread {
 public:
  using Body = std::function<void()>;

  // Starts body on a new thread with the system's default stack size.
  // Answers null when the system refuses a thread (and after
  // FailNextThreadStarts, below).
  static std::unique_ptr<Thread> Start(Body body);

  // A thread whose body has returned is joined; one that was parked or is
  // still running is let go (detached), never waited for.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // True when the body has returned within timeout_ms (0 polls).
  bool Wait(uint32_t timeout_ms);

  // Parks a thread whose body has not returned (see the class comment).
  // True when the thread has ended or now runs no more code; false when it
  // could not be stopped within a second (it blocks the park signal), in
  // which case the caller must assume it is still running.
  bool Terminate();

  // True once Terminate has parked the thread.
  bool IsParked() const;

  struct State;

 private:
  explicit Thread(std::shared_ptr<State> state);
  std::shared_ptr<State> state_;
};

// Fault injection for tests: the next n calls of Thread::Start answer null
// without starting anything. 0 switches it off.
void FailNextThreadStarts(int n);

}  // namespace platform
