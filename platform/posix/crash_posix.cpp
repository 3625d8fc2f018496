// POSIX crash filter: fatal signals handled on an alternate stack.
//
// The handler runs the installed filter once per process. A second thread
// that faults while the first writes its report waits there until the
// first ends the process; a fault inside the report itself ends the
// process at once. Afterwards the default action is restored and the
// signal delivered again, so the exit status shows the original signal.
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "crash_maps_posix.h"
#include "crash_posix_internal.h"
#include "platform/crash.h"
#include "platform/crash_io.h"

namespace platform {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS};
// Room for the minidump writer, the stack text and the upload, with a
// margin for sanitizer builds.
constexpr size_t kAltStackSize = 256 * 1024;
// A SIGSEGV this close to the stack pointer is taken for a stack overflow.
constexpr uint64_t kOverflowDistance = 64 * 1024;

std::atomic<CrashFilterFn> g_filter{nullptr};
std::atomic<uint32_t> g_reporting_thread{0};

// The alternate stack of one thread, released when the thread ends.
struct AltStack {
  void* memory = nullptr;
  size_t size = 0;
  ~AltStack() {
    if (memory == nullptr) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    munmap(memory, size);
  }
};
thread_local AltStack t_alt_stack;

void RestoreDefaults() {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  for (int sig : kSignals) sigaction(sig, &dfl, nullptr);
}

// Ends the process with sig. A fault raised by the hardware repeats when
// the handler returns, now with the default action; a signal that was sent
// (abort, kill, tgkill) is sent again and stays pending until then.
void ResendOnReturn(int sig, const siginfo_t* si) {
  RestoreDefaults();
  if (sig == SIGABRT || si == nullptr || si->si_code <= 0) {
    syscall(SYS_tgkill, getpid(), crash_posix::CurrentThreadId(), sig);
  }
}

void Handler(int sig, siginfo_t* si, void* context) {
  uint32_t self = crash_posix::CurrentThreadId();
  uint32_t expected = 0;
  if (!g_reporting_thread.compare_exchange_strong(expected, self)) {
    if (expected == self) {
      ResendOnReturn(sig, si);  // the report itself faulted
      return;
    }
    for (;;) {  // another thread is reporting; it will end the process
      struct timespec second {
        1, 0
      };
      nanosleep(&second, nullptr);
    }
  }
  const auto* uc = static_cast<const ucontext_t*>(context);
  crash_posix::NativeFault fault{si, uc};
  CrashInfo info{};
  info.code = static_cast<uint32_t>(sig);
  info.subcode = si != nullptr ? si->si_code : 0;
  bool hardware = si != nullptr && si->si_code > 0 && sig != SIGABRT;
  info.address = hardware ? reinterpret_cast<uint64_t>(si->si_addr) : 0;
  info.pc = static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RIP]);
  info.sp = static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RSP]);
  info.fp = static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RBP]);
  info.thread_id = self;
  uint64_t distance = info.address > info.sp ? info.address - info.sp : info.sp - info.address;
  info.stack_overflow = sig == SIGSEGV && hardware && distance < kOverflowDistance;
  info.native = &fault;
  CrashFilterFn filter = g_filter.load();
  if (filter != nullptr) filter(&info);
  ResendOnReturn(sig, si);
}

}  // namespace

bool PrepareThreadForCrashes() {
  if (t_alt_stack.memory != nullptr) return true;
  // One guard page below the stack turns an overflow of the handler into a
  // clean fault rather than a silent overwrite.
  size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  size_t size = kAltStackSize + page;
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return false;
  mprotect(memory, page, PROT_NONE);
  stack_t ss{};
  ss.ss_sp = static_cast<char*>(memory) + page;
  ss.ss_size = kAltStackSize;
  if (sigaltstack(&ss, nullptr) != 0) {
    munmap(memory, size);
    return false;
  }
  t_alt_stack.memory = memory;
  t_alt_stack.size = size;
  return true;
}

bool InstallCrashFilter(CrashFilterFn filter) {
  g_filter.store(filter);
  PrepareCrashClock();
  bool ok = PrepareThreadForCrashes();
  struct sigaction sa {};
  sa.sa_sigaction = Handler;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  for (int sig : kSignals) sigaddset(&sa.sa_mask, sig);
  for (int sig : kSignals) ok = sigaction(sig, &sa, nullptr) == 0 && ok;
  return ok;
}

bool InstallInvalidParameterHandler(InvalidParameterFn) {
  return false;  // the C library's checks abort() instead
}

int RunCrashReport(CrashReportFn report, const CrashInfo* info) {
  // The handler already runs on the alternate stack, which a stack
  // overflow leaves intact.
  return report(info);
}

void RaiseAccessViolation() {
  syscall(SYS_tgkill, getpid(), crash_posix::CurrentThreadId(), SIGSEGV);
  // Reached only when SIGSEGV is blocked or ignored on this thread.
  RestoreDefaults();
  abort();
}

}  // namespace platform
