// POSIX threads and the millisecond clock. Terminate parks the thread in a
// signal handler (see thread.h for why it is not killed).
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

#include "platform/thread.h"

#include "platform/crash.h"

namespace platform {

struct Thread::State {
  Body body;
  pthread_t handle{};
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;               // the body has returned; guarded by mutex
  std::atomic<bool> ended{false};  // the same, readable without the mutex
  std::atomic<bool> parked{false};
  bool released = false;  // joined or detached
};

namespace {

std::atomic<int> g_fail_starts{0};

// Set by the thread wrapper so that the park handler can report on the
// thread it runs in. Initial-exec TLS is safe to touch in a signal handler.
__attribute__((tls_model("initial-exec"))) thread_local std::atomic<bool>* t_parked_flag = nullptr;

int ParkSignal() {
  return SIGRTMIN + 5;
}

void ParkHandler(int) {
  if (t_parked_flag != nullptr) t_parked_flag->store(true);
  // With every signal blocked the thread never runs a handler again;
  // process-wide signals go to the other threads.
  sigset_t all;
  sigfillset(&all);
  for (;;) sigsuspend(&all);
}

void InstallParkHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction sa {};
    sa.sa_handler = ParkHandler;
    sigfillset(&sa.sa_mask);
    sigaction(ParkSignal(), &sa, nullptr);
  });
}

void* ThreadMain(void* arg) {
  auto* owned = static_cast<std::shared_ptr<Thread::State>*>(arg);
  std::shared_ptr<Thread::State> state = std::move(*owned);
  delete owned;
  t_parked_flag = &state->parked;
  // A stack overflow on this thread must still reach the crash report.
  PrepareThreadForCrashes();
  state->body();
  // From here on a park request must not land: the destructor joins a
  // thread that reports done, and a parked thread would never be joined.
  sigset_t park;
  sigemptyset(&park);
  sigaddset(&park, ParkSignal());
  pthread_sigmask(SIG_BLOCK, &park, nullptr);
  t_parked_flag = nullptr;
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->done = true;
    state->ended.store(true);
  }
  state->cv.notify_all();
  return nullptr;
}

}  // namespace

uint32_t TimeGetTime() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void FailNextThreadStarts(int n) {
  g_fail_starts.store(n < 0 ? 0 : n);
}

std::unique_ptr<Thread> Thread::Start(Body body) {
  int pending = g_fail_starts.load();
  while (pending > 0 && !g_fail_starts.compare_exchange_weak(pending, pending - 1)) {
  }
  if (pending > 0) return nullptr;

  InstallParkHandler();
  auto state = std::make_shared<State>();
  state->body = std::move(body);
  auto* arg = new std::shared_ptr<State>(state);
  if (pthread_create(&state->handle, nullptr, ThreadMain, arg) != 0) {
    delete arg;
    return nullptr;
  }
  return std::unique_ptr<Thread>(new Thread(std::move(state)));
}

Thread::Thread(std::shared_ptr<State> state) : state_(std::move(state)) {}

Thread::~Thread() {
  if (state_->released) return;
  state_->released = true;
  if (state_->ended.load() && !state_->parked.load()) {
    pthread_join(state_->handle, nullptr);
  } else {
    pthread_detach(state_->handle);
  }
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
  if (pthread_kill(state_->handle, ParkSignal()) != 0) return state_->ended.load();
  // The handler reports within microseconds unless the thread blocks the
  // signal; a second is a generous bound for a loaded machine.
  for (int i = 0; i < 1000; ++i) {
    if (state_->parked.load() || state_->ended.load()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return state_->parked.load() || state_->ended.load();
}

bool Thread::IsParked() const {
  return state_->parked.load();
}

static_assert(sizeof(pthread_mutex_t) <= 64 && alignof(pthread_mutex_t) <= 16,
              "RecursiveLock's storage must hold a pthread_mutex_t");

static pthread_mutex_t* Native(unsigned char* storage) {
  return reinterpret_cast<pthread_mutex_t*>(storage);
}

// Initialising a recursive mutex with default attributes cannot fail on
// Linux; an abort beats running with a lock that does not lock.
RecursiveLock::RecursiveLock() {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0 ||
      pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) != 0 ||
      pthread_mutex_init(new (native_) pthread_mutex_t, &attr) != 0) {
    std::abort();
  }
  pthread_mutexattr_destroy(&attr);
}
RecursiveLock::~RecursiveLock() {
  pthread_mutex_destroy(Native(native_));
}
void RecursiveLock::Enter() {
  pthread_mutex_lock(Native(native_));
}
void RecursiveLock::Leave() {
  pthread_mutex_unlock(Native(native_));
}
bool RecursiveLock::TryEnter() {
  return pthread_mutex_trylock(Native(native_)) == 0;
}

}  // namespace platform
