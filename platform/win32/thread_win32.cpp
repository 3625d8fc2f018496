// Win32 threads (_beginthreadex, so that the C runtime's per-thread data is
// set up), the millisecond clock (timeGetTime) and TerminateThread.
//
// Terminate really ends the thread here: TerminateThread is asynchronous, so
// it is followed by a wait on the thread's handle, which signals only once
// the thread has stopped for good. After that no instruction of the thread
// runs, so the module it was in may be freed. As on POSIX, what the thread
// held stays held (its locks are abandoned) and its stack is not unwound.
#include <process.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "platform/crash.h"
#include "platform/thread.h"
#include "win32_text.h"

#include <mmsystem.h>

namespace platform {

struct Thread::State {
  Body body;
  HANDLE handle = nullptr;
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;               // the body has returned; guarded by mutex
  std::atomic<bool> ended{false};  // the same, readable without the mutex
  std::atomic<bool> parked{false};
};

namespace {

std::atomic<int> g_fail_starts{0};

unsigned __stdcall ThreadMain(void* arg) {
  auto* owned = static_cast<std::shared_ptr<Thread::State>*>(arg);
  std::shared_ptr<Thread::State> state = std::move(*owned);
  delete owned;
  // A stack overflow on this thread must still reach the crash report.
  PrepareThreadForCrashes();
  state->body();
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->done = true;
    state->ended.store(true);
  }
  state->cv.notify_all();
  return 0;
}

}  // namespace

uint32_t TimeGetTime() {
  return ::timeGetTime();
}

void FailNextThreadStarts(int n) {
  g_fail_starts.store(n < 0 ? 0 : n);
}

std::unique_ptr<Thread> Thread::Start(Body body) {
  int pending = g_fail_starts.load();
  while (pending > 0 && !g_fail_starts.compare_exchange_weak(pending, pending - 1)) {
  }
  if (pending > 0) return nullptr;

  auto state = std::make_shared<State>();
  state->body = std::move(body);
  auto* arg = new std::shared_ptr<State>(state);
  const uintptr_t handle = _beginthreadex(nullptr, 0, ThreadMain, arg, 0, nullptr);
  if (handle == 0) {
    delete arg;
    return nullptr;
  }
  state->handle = reinterpret_cast<HANDLE>(handle);
  return std::unique_ptr<Thread>(new Thread(std::move(state)));
}

Thread::Thread(std::shared_ptr<State> state) : state_(std::move(state)) {}

Thread::~Thread() {
  if (state_->handle == nullptr) return;
  // A thread whose body returned is only leaving ThreadMain: wait for it, as
  // a join would. A running one is let go; its handle is not needed to run.
  if (state_->ended.load() && !state_->parked.load()) {
    WaitForSingleObject(state_->handle, INFINITE);
  }
  CloseHandle(state_->handle);
  state_->handle = nullptr;
}

bool Thread::Wait(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  if (timeout_ms == kInfinite) {
    state_->cv.wait(lock, [this] { return state_->done; });
    return true;
  }
  return state_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [this] { return state_->done; });
}

bool Thread::Terminate() {
  if (state_->ended.load() || state_->parked.load()) return true;
  if (!::TerminateThread(state_->handle, 1)) {
    // Fails when the thread has already left; then the handle is signalled.
    return WaitForSingleObject(state_->handle, 0) == WAIT_OBJECT_0;
  }
  // The thread handle signals once the thread has stopped for good.
  if (WaitForSingleObject(state_->handle, 1000) != WAIT_OBJECT_0) return false;
  if (!state_->ended.load()) state_->parked.store(true);
  return true;
}

bool Thread::IsParked() const {
  return state_->parked.load();
}

static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= 16,
              "RecursiveLock's storage must hold a CRITICAL_SECTION");

static CRITICAL_SECTION* Native(unsigned char* storage) {
  return reinterpret_cast<CRITICAL_SECTION*>(storage);
}

RecursiveLock::RecursiveLock() {
  ::InitializeCriticalSection(Native(native_));
}
RecursiveLock::~RecursiveLock() {
  ::DeleteCriticalSection(Native(native_));
}
void RecursiveLock::Enter() {
  ::EnterCriticalSection(Native(native_));
}
void RecursiveLock::Leave() {
  ::LeaveCriticalSection(Native(native_));
}
bool RecursiveLock::TryEnter() {
  return ::TryEnterCriticalSection(Native(native_)) != FALSE;
}

}  // namespace platform
