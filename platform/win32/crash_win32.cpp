// Win32 crash filter: the unhandled-exception filter, the C runtime's
// invalid-parameter and abort paths, and the fresh thread that reports a
// stack overflow.
//
// The filter runs the installed CrashFilterFn once per process. A second
// thread that faults while the first writes its report waits until the
// first ends the process; a fault inside the report itself ends the process
// at once. The filter always answers EXCEPTION_EXECUTE_HANDLER, so the
// process ends with the exception code as its exit code and no system
// error dialog or debugger is started.
#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <cstdint>

#include "platform/crash.h"
#include "platform/crash_io.h"
#include "win32_text.h"

namespace platform {
namespace {

// The system leaves a faulting thread a page or two; a guarantee of this
// much lets the filter start the reporting thread after a stack overflow.
constexpr ULONG kStackGuarantee = 64 * 1024;
// Exception code of an abort() that reaches the filter, as Windows' error
// reporting names it.
constexpr DWORD kFatalAppExit = 0x40000015;

std::atomic<CrashFilterFn> g_filter{nullptr};
std::atomic<DWORD> g_reporting_thread{0};

// Runs the installed filter for a fault of thread `faulting`.
void HandleFault(EXCEPTION_POINTERS* pointers, DWORD faulting) {
  CrashInfo info{};
  const EXCEPTION_RECORD* record = pointers != nullptr ? pointers->ExceptionRecord : nullptr;
  const CONTEXT* context = pointers != nullptr ? pointers->ContextRecord : nullptr;
  if (record != nullptr) {
    info.code = record->ExceptionCode;
    // Memory faults carry the data address as their second argument.
    if ((record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION ||
         record->ExceptionCode == EXCEPTION_IN_PAGE_ERROR) &&
        record->NumberParameters >= 2) {
      info.address = static_cast<uint64_t>(record->ExceptionInformation[1]);
    }
    info.stack_overflow = record->ExceptionCode == EXCEPTION_STACK_OVERFLOW;
  }
  if (context != nullptr) {
    info.pc = context->Rip;
    info.sp = context->Rsp;
    info.fp = context->Rbp;
  }
  info.thread_id = faulting;
  info.native = pointers;
  CrashFilterFn filter = g_filter.load();
  if (filter != nullptr) filter(&info);
}

// True when the calling thread is the first to report. A report that
// faults itself, or a second faulting thread, must not report again.
bool ClaimReport(DWORD self) {
  DWORD expected = 0;
  if (g_reporting_thread.compare_exchange_strong(expected, self)) return true;
  if (expected == self) return false;  // the report itself faulted: end now
  for (;;) Sleep(INFINITE);            // the reporting thread ends the process
}

LONG WINAPI TopLevelFilter(EXCEPTION_POINTERS* pointers) {
  const DWORD self = GetCurrentThreadId();
  if (ClaimReport(self)) HandleFault(pointers, self);
  return EXCEPTION_EXECUTE_HANDLER;
}

// The stack-overflow path. The overflowing thread has a page or two left,
// not enough to reach the unhandled-exception filter (Wine gives less than
// Windows), so the first-chance handler hands the fault to a thread started
// at installation, which reports with a full stack while the faulting thread
// waits; then the process ends with the overflow's code.
HANDLE g_overflow_request = nullptr;  // auto-reset: a fault is waiting
HANDLE g_overflow_done = nullptr;     // manual-reset: its report is written
EXCEPTION_POINTERS* volatile g_overflow_pointers = nullptr;
volatile DWORD g_overflow_thread = 0;

DWORD WINAPI OverflowReporter(void*) {
  for (;;) {
    if (WaitForSingleObject(g_overflow_request, INFINITE) != WAIT_OBJECT_0) return 0;
    if (ClaimReport(GetCurrentThreadId())) HandleFault(g_overflow_pointers, g_overflow_thread);
    SetEvent(g_overflow_done);
  }
}

LONG WINAPI OnStackOverflow(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  // Quiet filter: end without a report.
  if (g_filter.load() != nullptr) {
    g_overflow_pointers = pointers;
    g_overflow_thread = GetCurrentThreadId();
    SetEvent(g_overflow_request);
    WaitForSingleObject(g_overflow_done, INFINITE);
  }
  TerminateProcess(GetCurrentProcess(), EXCEPTION_STACK_OVERFLOW);
  return EXCEPTION_CONTINUE_SEARCH;
}

// Starts the overflow reporter once per process.
void StartOverflowReporter() {
  static std::atomic<bool> started{false};
  if (started.exchange(true)) return;
  g_overflow_request = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  g_overflow_done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = g_overflow_request != nullptr && g_overflow_done != nullptr
                      ? CreateThread(nullptr, 0, &OverflowReporter, nullptr, 0, nullptr)
                      : nullptr;
  if (thread == nullptr) return;  // overflows then reach the filter directly
  CloseHandle(thread);
  AddVectoredExceptionHandler(1, &OnStackOverflow);
}

// abort() (also std::terminate) raises SIGABRT; without this the runtime
// would end the process quietly with exit code 3 and no report.
void __cdecl OnAbort(int) {
  RaiseException(kFatalAppExit, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

struct ReportCall {
  CrashReportFn report;
  const CrashInfo* info;
  int result;
};

DWORD WINAPI ReportThread(void* argument) {
  auto* call = static_cast<ReportCall*>(argument);
  call->result = call->report(call->info);
  return 0;
}

}  // namespace

bool PrepareThreadForCrashes() {
  ULONG size = kStackGuarantee;
  return SetThreadStackGuarantee(&size) != FALSE;
}

bool InstallCrashFilter(CrashFilterFn filter) {
  g_filter.store(filter);
  PrepareCrashClock();
  // The system's error dialog would hold a dying process on a server
  // nobody watches.
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  StartOverflowReporter();
  SetUnhandledExceptionFilter(&TopLevelFilter);
  bool ok = signal(SIGABRT, &OnAbort) != SIG_ERR;
  // The guarantee is a help, not a need: the report runs on its own thread.
  PrepareThreadForCrashes();
  return ok;
}

bool InstallInvalidParameterHandler(InvalidParameterFn handler) {
  _set_invalid_parameter_handler(handler);
  return true;
}

int RunCrashReport(CrashReportFn report, const CrashInfo* info) {
  // Only the overflowing thread itself lacks the stack to report.
  if (info == nullptr || !info->stack_overflow || info->thread_id != GetCurrentThreadId()) {
    return report(info);
  }
  // The faulting thread has no stack left: report from a fresh thread with
  // the default stack, and wait for it.
  ReportCall call{report, info, 0};
  HANDLE thread = CreateThread(nullptr, 0, &ReportThread, &call, 0, nullptr);
  if (thread == nullptr) return report(info);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return call.result;
}

void RaiseAccessViolation() {
  RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
  // Reached only when a debugger or a handler continued the exception.
  for (;;) TerminateProcess(GetCurrentProcess(), EXCEPTION_ACCESS_VIOLATION);
}

}  // namespace platform
