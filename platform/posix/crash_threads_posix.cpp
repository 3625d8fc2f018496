// The dump helper. A thread cannot read another thread's registers, and a
// process cannot ptrace itself, so the crashed thread clones the process
// (a plain copy: no new thread, no atfork handlers, no allocation) and lets
// the copy trace it (PR_SET_PTRACER, for Yama's "restricted" mode). The
// copy stops every other thread with PTRACE_SEIZE + PTRACE_INTERRUPT (no
// SIGSTOP is left behind if the helper dies), reads their registers,
// writes the dump while they stand still, and detaches.
//
// Every system call here is made raw: the crash path must not run a
// sanitizer's interceptors, and the helper has no threads of its own.
#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "crash_threads_posix.h"

#include "crash_posix_internal.h"

namespace platform::crash_posix {
namespace {

// Helper exit codes (its exit status is not awaited, the pipe tells).
constexpr char kCaptured = 'C';
constexpr char kWritten = 'W';

CapturedThread g_threads[kMaxDumpThreads];
char g_dirents[16 * 1024];

long Sys(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0) {
  long r;
  do {
    r = syscall(number, a, b, c, d, e);
  } while (r < 0 && errno == EINTR);
  return r;
}

uint32_t ParseTid(const char* name) {
  uint32_t tid = 0;
  for (; *name >= '0' && *name <= '9'; ++name) tid = tid * 10 + static_cast<uint32_t>(*name - '0');
  return *name == '\0' ? tid : 0;
}

void FillContext(const user_regs_struct& r, const user_fpregs_struct& fp, bool have_fp,
                 minidump::ContextAmd64* c) {
  std::memset(c, 0, sizeof(*c));
  c->context_flags = minidump::kContextFlagsAmd64;
  c->seg_cs = static_cast<uint16_t>(r.cs);
  c->seg_ds = static_cast<uint16_t>(r.ds);
  c->seg_es = static_cast<uint16_t>(r.es);
  c->seg_fs = static_cast<uint16_t>(r.fs);
  c->seg_gs = static_cast<uint16_t>(r.gs);
  c->seg_ss = static_cast<uint16_t>(r.ss);
  c->eflags = static_cast<uint32_t>(r.eflags);
  c->rax = r.rax;
  c->rcx = r.rcx;
  c->rdx = r.rdx;
  c->rbx = r.rbx;
  c->rsp = r.rsp;
  c->rbp = r.rbp;
  c->rsi = r.rsi;
  c->rdi = r.rdi;
  c->r8 = r.r8;
  c->r9 = r.r9;
  c->r10 = r.r10;
  c->r11 = r.r11;
  c->r12 = r.r12;
  c->r13 = r.r13;
  c->r14 = r.r14;
  c->r15 = r.r15;
  c->rip = r.rip;
  if (have_fp) {
    static_assert(sizeof(fp) == sizeof(c->flt_save));
    std::memcpy(c->flt_save, &fp, sizeof(c->flt_save));
    c->mx_csr = fp.mxcsr;
  }
}

// Stops one thread and reads its registers. Answers 0, or the errno.
int Capture(uint32_t tid, CapturedThread* out) {
  if (Sys(SYS_ptrace, PTRACE_SEIZE, tid, 0, 0) != 0) return errno;
  if (Sys(SYS_ptrace, PTRACE_INTERRUPT, tid, 0, 0) != 0) {
    int error = errno;
    Sys(SYS_ptrace, PTRACE_DETACH, tid, 0, 0);
    return error;
  }
  int status = 0;
  if (Sys(SYS_wait4, tid, reinterpret_cast<long>(&status), __WALL, 0) != static_cast<long>(tid)) {
    return errno;
  }
  user_regs_struct regs;
  user_fpregs_struct fp;
  if (Sys(SYS_ptrace, PTRACE_GETREGS, tid, 0, reinterpret_cast<long>(&regs)) != 0) {
    int error = errno;
    Sys(SYS_ptrace, PTRACE_DETACH, tid, 0, 0);
    return error;
  }
  bool have_fp = Sys(SYS_ptrace, PTRACE_GETFPREGS, tid, 0, reinterpret_cast<long>(&fp)) == 0;
  out->tid = tid;
  FillContext(regs, fp, have_fp, &out->context);
  return 0;
}

// The helper's whole life. Ends the helper process.
[[noreturn]] void HelperMain(int go, int report, uint32_t pid, uint32_t crashed_tid,
                             HelperDumpFn write, void* arg) {
  // A fault in the helper must end the helper, not wait in the handler it
  // inherited for a report that is never coming.
  // The kernel's own sigaction record: handler, flags, restorer, mask; all
  // zero is SIG_DFL.
  const uint64_t dfl[4] = {};
  constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS};
  for (int sig : kSignals) {
    Sys(SYS_rt_sigaction, sig, reinterpret_cast<long>(dfl), 0, 8);
  }
  // A helper left behind by a killed parent ends with it.
  Sys(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL);
  char byte = 0;
  if (Sys(SYS_read, go, reinterpret_cast<long>(&byte), 1) != 1) Sys(SYS_exit_group, 1);

  char path[kProcPathSize];
  ProcPath(pid, "task", path);
  int dir = static_cast<int>(Sys(SYS_open, reinterpret_cast<long>(path), O_RDONLY | O_DIRECTORY));
  if (dir < 0) Sys(SYS_exit_group, 1);
  size_t count = 0;
  bool refused = false;
  for (;;) {
    long n = Sys(SYS_getdents64, dir, reinterpret_cast<long>(g_dirents), sizeof(g_dirents));
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      const auto* d = reinterpret_cast<const dirent64*>(g_dirents + at);
      at += d->d_reclen;
      uint32_t tid = ParseTid(d->d_name);
      if (tid == 0 || tid == crashed_tid || count == kMaxDumpThreads) continue;
      int error = Capture(tid, &g_threads[count]);
      if (error == 0) {
        ++count;
      } else if (error == EPERM || error == EACCES) {
        refused = true;
      }
      // Any other failure: the thread ended meanwhile; it is left out.
    }
  }
  Sys(SYS_close, dir);
  // Refused: ptrace is forbidden here (Yama, seccomp, a container). The
  // crashed process then writes what it can alone.
  if (refused && count == 0) Sys(SYS_exit_group, 2);
  byte = kCaptured;
  Sys(SYS_write, report, reinterpret_cast<long>(&byte), 1);

  ThreadCapture capture{pid, g_threads, count};
  bool ok = write(&capture, arg);
  for (size_t i = 0; i < count; ++i) Sys(SYS_ptrace, PTRACE_DETACH, g_threads[i].tid, 0, 0);
  if (ok) {
    byte = kWritten;
    Sys(SYS_write, report, reinterpret_cast<long>(&byte), 1);
  }
  Sys(SYS_exit_group, ok ? 0 : 1);
  __builtin_unreachable();
}

// Reads one byte from the helper within timeout_ms: the byte, 0 at the end
// of the pipe (the helper ended), -1 on a time-out.
int ReadReport(int report, int timeout_ms) {
  struct pollfd p {
    report, POLLIN, 0
  };
  long ready = Sys(SYS_poll, reinterpret_cast<long>(&p), 1, timeout_ms);
  if (ready <= 0) return -1;
  char byte = 0;
  return Sys(SYS_read, report, reinterpret_cast<long>(&byte), 1) == 1 ? byte : 0;
}

int64_t FileSize(int file) {
  struct stat st;
  return Sys(SYS_fstat, file, reinterpret_cast<long>(&st)) == 0 ? st.st_size : -1;
}

}  // namespace

void ProcPath(uint32_t pid, const char* rest, char* out) {
  std::memcpy(out, "/proc/", 6);
  size_t at = AppendDecimal(pid, out, 6);
  out[at++] = '/';
  for (; *rest != '\0' && at + 1 < kProcPathSize; ++rest) out[at++] = *rest;
  out[at] = '\0';
}

bool RunDumpHelper(int file, uint32_t crashed_tid, HelperDumpFn write, void* arg) {
  int go[2];
  int report[2];
  if (Sys(SYS_pipe2, reinterpret_cast<long>(go), O_CLOEXEC) != 0) return false;
  if (Sys(SYS_pipe2, reinterpret_cast<long>(report), O_CLOEXEC) != 0) {
    Sys(SYS_close, go[0]);
    Sys(SYS_close, go[1]);
    return false;
  }
  auto pid = static_cast<uint32_t>(Sys(SYS_getpid));
  // A copy of the process (no CLONE_VM), with no exit signal: a host's
  // SIGCHLD handling never sees it. CLONE_UNTRACED keeps a debugger that
  // traces this process off the helper.
  long child = syscall(SYS_clone, CLONE_UNTRACED, 0, 0, 0, 0);
  if (child == 0) {
    Sys(SYS_close, go[1]);
    Sys(SYS_close, report[0]);
    HelperMain(go[0], report[1], pid, crashed_tid, write, arg);
  }
  Sys(SYS_close, go[0]);
  Sys(SYS_close, report[1]);
  bool written = false;
  if (child > 0) {
    // Fails without Yama, where the helper needs no leave.
    Sys(SYS_prctl, PR_SET_PTRACER, child);
    char byte = 1;
    Sys(SYS_write, go[1], reinterpret_cast<long>(&byte), 1);
    if (ReadReport(report[0], kCaptureTimeoutMs) == kCaptured) {
      int64_t size = FileSize(file);
      for (int stalled = 0; stalled < kStallTimeoutMs;) {
        int r = ReadReport(report[0], 250);
        if (r != -1) {
          written = r == kWritten;
          break;
        }
        int64_t now = FileSize(file);
        stalled = now == size ? stalled + 250 : 0;
        size = now;
      }
    }
    Sys(SYS_kill, child, SIGKILL);
    int status = 0;
    Sys(SYS_wait4, child, reinterpret_cast<long>(&status), __WALL, 0);
    Sys(SYS_prctl, PR_SET_PTRACER, 0);
  }
  Sys(SYS_close, go[1]);
  Sys(SYS_close, report[0]);
  return written;
}

}  // namespace platform::crash_posix
