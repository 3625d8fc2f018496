// The dump helper of the POSIX crash backend: the registers of the threads
// that did not fault can only be read from another process, attached to
// them with ptrace. Private to the backend.
#pragma once

#include <cstddef>
#include <cstdint>

#include "minidump_format_posix.h"

namespace platform::crash_posix {

// One thread of the dumped process as the helper found it, stopped.
struct CapturedThread {
  uint32_t tid;
  minidump::ContextAmd64 context;
};

// Every other thread of the dumped process, stopped while the dump is
// written. Lives in the helper's memory.
struct ThreadCapture {
  uint32_t pid;  // the dumped process
  const CapturedThread* threads;
  size_t count;
};

// Writes the dump inside the helper, where capture lists the stopped
// threads; answers whether the dump was written whole.
using HelperDumpFn = bool (*)(const ThreadCapture* capture, void* arg);

// Crash path. Starts the helper (a copy of this process made by clone, that
// this process lets trace it), which stops every thread but crashed_tid,
// reads their registers, runs write(capture, arg), lets the threads go and
// ends. The calling thread waits for it: at most kCaptureTimeoutMs for the
// threads to be stopped, then as long as the dump file `file` keeps
// growing. Answers true when the helper wrote the dump; false when it
// could not run (no process, ptrace refused, a hang, a fault), and then
// the caller writes the dump itself.
bool RunDumpHelper(int file, uint32_t crashed_tid, HelperDumpFn write, void* arg);

// "/proc/<pid>/<rest>" into out (kProcPathSize bytes, rest cut to fit);
// signal-safe.
inline constexpr size_t kProcPathSize = 64;
void ProcPath(uint32_t pid, const char* rest, char* out);

inline constexpr int kCaptureTimeoutMs = 5000;
inline constexpr int kStallTimeoutMs = 10000;

// The most threads a dump holds; more are left out.
inline constexpr size_t kMaxDumpThreads = 1024;

}  // namespace platform::crash_posix
