// What Breakpad's minidump_stackwalk (its machine-readable output, -m)
// reads from a dump: shared by the crash tests of both systems (the
// Windows tests run the build machine's Linux tool on Wine's dumps).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace crs_test {

struct StackwalkReading {
  bool ran = false;          // it ran to the end
  bool ok = false;           // ... and logged no error reading the file
  std::string crash_reason;  // "SIGSEGV /SEGV_MAPERR", "EXCEPTION_ACCESS_VIOLATION_WRITE"
  int crashed_thread = -1;
  // Per thread, its frames: "module!function", or "module" without symbols.
  std::vector<std::vector<std::string>> threads;
  // Module file name -> its debug identifier ("" when the dump has none).
  std::map<std::string, std::string> modules;
  std::string text;  // its whole output, for failure messages

  // The first thread with a frame that starts with `frame`; -1 when none.
  int ThreadWith(const std::string& frame) const;
  // True when the module list holds `module` with a debug identifier.
  bool Identifies(const std::string& module) const;
};

// Reads minidump_stackwalk -m's output; ran_ok: it exited with 0.
StackwalkReading ParseStackwalk(const std::string& output, bool ran_ok);

}  // namespace crs_test
