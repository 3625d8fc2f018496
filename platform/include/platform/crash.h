// Process-wide crash handling: the unhandled-fault filter, the minidump and
// the text of the faulting stack.
//
// These stand in for SetUnhandledExceptionFilter, the C runtime's
// invalid-parameter handler, MiniDumpWriteDump and StackWalk64. Everything
// named "crash path" below runs inside the dying process: it allocates
// nothing, takes no lock and calls the system only through calls that are
// safe there, so the POSIX backend may call it from a signal handler.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// What the filter learns about a fault (the role of EXCEPTION_POINTERS).
struct CrashInfo {
  uint32_t code;        // Windows exception code; on POSIX the signal number
  int32_t subcode;      // POSIX si_code; 0 on Windows
  uint64_t address;     // data address of a memory fault; 0 when there is none
  uint64_t pc;          // program counter (RIP) at the fault
  uint64_t sp;          // stack pointer (RSP) at the fault
  uint64_t fp;          // frame pointer (RBP) at the fault
  uint32_t thread_id;   // the faulting thread
  bool stack_overflow;  // the fault hit the end of the thread's stack
  const void* native;   // the backend's own record (ucontext or EXCEPTION_POINTERS)
};

// The filter's verdict, as for an unhandled-exception filter.
inline constexpr int kCrashExecuteHandler = 1;

// Called on the faulting thread, with the other crash signals held off.
// Whatever it returns, the process then ends with the original fault.
using CrashFilterFn = int (*)(const CrashInfo* info);

// Installs filter as the process-wide handler of fatal faults (on POSIX:
// SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS, on an alternate stack so
// that a stack overflow is handled too) and gives the calling thread its
// alternate stack. Replaces the filter installed before. A null filter ends
// the process at a fault without doing anything (the quiet filter). Answers
// false when the handlers could not be installed.
bool InstallCrashFilter(CrashFilterFn filter);

// Gives the calling thread an alternate signal stack, so that a stack
// overflow on it reaches the filter. Threads started after InstallCrashFilter
// call it once at their start; without it such a thread's overflow kills the
// process without a report. Answers false when no stack could be reserved.
bool PrepareThreadForCrashes();

// Runs report(info) with stack enough: on a stack overflow the faulting
// stack is spent, so it runs elsewhere (POSIX: the alternate stack the
// filter already runs on; Windows: a fresh thread that the caller waits for).
using CrashReportFn = int (*)(const CrashInfo* info);
int RunCrashReport(CrashReportFn report, const CrashInfo* info);

// Raises a fault that reaches the installed filter like any other (the
// invalid-parameter path: an access violation; on POSIX a SIGSEGV).
[[noreturn]] void RaiseAccessViolation();

// The C runtime's invalid-parameter handler (expression, function, file,
// line, reserved).
using InvalidParameterFn = void (*)(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                                    uintptr_t);

// Makes handler the C runtime's invalid-parameter handler (Windows:
// _set_invalid_parameter_handler; it stays through later InstallCrashFilter
// calls). The POSIX C library has no such hook: its checks call abort(),
// which the filter reports as SIGABRT; nothing is installed there. Answers
// whether a handler was installed.
bool InstallInvalidParameterHandler(InvalidParameterFn handler);

// Crash path. Writes a minidump of this process for the fault to the open
// file (a handle from CrashFileCreate, crash_io.h): every thread with its
// registers and stack (the faulting one first; on POSIX the others are read
// by a helper process, and the faulting thread alone is dumped where the
// system refuses it), the loaded modules with their build ids, the
// exception; with full_memory, every readable mapping as well. Answers
// false when the file could not be written; a partial dump may remain.
bool WriteMinidump(intptr_t file, const CrashInfo* info, bool full_memory);

// One frame of the faulting stack, innermost first.
struct CrashFrame {
  uint64_t pc;
  uint64_t sp;
  uint64_t fp;
  uint64_t module_base;  // 0 when no module holds pc
  char module[64];       // file name of that module without folder and extension
};

// Crash path. Starts the symbol handler that WalkCrashStack needs (Windows:
// DbgHelp's, with deferred loads and line information, no search path, the
// modules not loaded at once). Answers 0, or the system error code when it
// cannot start: then skip the walk. StopCrashSymbols releases it, also after
// a failed start. POSIX has no symbol handler: 0, and nothing to release.
uint32_t StartCrashSymbols();
void StopCrashSymbols();

// Crash path, between StartCrashSymbols and StopCrashSymbols. Walks the
// stack of the fault (frame 0 is the faulting pc) into frames, at most
// max_frames; answers the number of frames stored (0 when the stack cannot
// be walked). The walk ends after a frame whose frame address is 0 or whose
// next link cannot be followed.
size_t WalkCrashStack(const CrashInfo* info, CrashFrame* frames, size_t max_frames);

}  // namespace platform
