// A working folder for one ServerApp run, its module trace, log and streams.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/process.h"

namespace hosttest {

namespace fs = std::filesystem;

// The reference module's default switches; tests override single keys.
using Switches = std::map<std::string, std::string>;

class HostFolder {
 public:
  // <tmp>/hosttest-XXXXXX with work/ (the host's current folder) and log/.
  explicit HostFolder(const Switches& switches = {});
  ~HostFolder();

  const fs::path& root() const { return root_; }
  const fs::path& work() const { return work_; }

  // Starts a host in work/, stdout and stderr piped, stdin when `console`.
  // `program` defaults to the deployment folder's ServerApp.
  std::unique_ptr<platform::Process> Start(const std::vector<std::string>& args,
                                           bool console = false,
                                           const std::string& program = "") const;

  // The module's trace lines, without their time stamps.
  std::vector<std::string> Trace() const;
  // The 32-bit clock stamps of the trace lines that start with `prefix`.
  std::vector<uint32_t> TraceTimes(const std::string& prefix) const;
  size_t CountTrace(const std::string& prefix) const;
  bool WaitForTrace(const std::string& prefix, std::chrono::milliseconds timeout) const;

  // Every main-log line written so far (all error_*.log files).
  std::string HostLog() const;
  bool WaitForHostLog(const std::string& text, std::chrono::milliseconds timeout) const;

 private:
  fs::path root_;
  fs::path work_;
  fs::path trace_;
};

inline std::vector<std::string> HostArgs(uint64_t manager, const std::string& index) {
  return {std::to_string(manager), "5000", index, "7", "9"};
}

std::string ReadAllStderr(platform::Process& process, int timeout_ms = 5000);
std::string ReadAllStdout(platform::Process& process, int timeout_ms = 5000);

// The exit code; -1000 when still running, -signal when a signal ended it.
int WaitExit(platform::Process& process, int timeout_ms);

// On POSIX the forced stop is a signal, which a thread may block.
#if defined(_WIN32)
inline constexpr bool kThreadsCanBlockTheStop = false;
#else
inline constexpr bool kThreadsCanBlockTheStop = true;
#endif

std::string ServerAppPath();

}  // namespace hosttest
