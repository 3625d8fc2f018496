// A host process's memory and the time its threads waited for a processor,
// as this system counts them: relay_memory_posix.cpp reads /proc,
// relay_memory_win32.cpp asks GetProcessMemoryInfo (CMake picks one).
#pragma once

#include <cstdint>

namespace relaybench {

struct Memory {
  // POSIX: the resident set (VmRSS). Windows: the working set.
  long resident_kib = -1;
  // What the process holds for itself. POSIX: the proportional set (PSS:
  // shared pages divided among their sharers). Windows: the private bytes
  // (commit charge).
  long own_kib = -1;
};

// How the table names the two figures, e.g. "RSS (PSS)".
const char* MemoryFigures();

// The memory of process `pid`; a field is -1 when the process is gone or
// the figure cannot be read.
Memory MemoryOf(uint32_t pid);

// Time the process's threads spent runnable but waiting for a processor,
// summed over its threads, in ms; -1 when it cannot be read or this system
// does not count it (Windows).
double RunQueueWaitMs(uint32_t pid);

}  // namespace relaybench
