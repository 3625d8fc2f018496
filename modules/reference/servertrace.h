// The reference module's call trace: one line per operation the host calls,
// appended to the file named by the TraceFile switch, so that a test in
// another process can see what the host asked and in which order.
#pragma once

#include <cstdint>
#include <string>

#include "platform/printf_format.h"

class ServerAppHandler;

namespace refmod {

class ServerTrace {
 public:
  explicit ServerTrace(std::string file) : file_(std::move(file)) {}
  // Appends "<ms> <text>\n" (ms: the 32-bit clock); nothing when no file is
  // set. Thread-safe: each line is one append.
  void Line(const char* format, ...) const SERVERAPP_PRINTF(2, 3);

 private:
  std::string file_;
};

// A module call stuck for good, the way HangMode (serverswitches.h) says:
// never returns. `handler` (may be null) gets the log lines of kHangLogs.
[[noreturn]] void HangForGood(int32_t mode, ServerAppHandler* handler);

}  // namespace refmod
