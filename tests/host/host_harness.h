// A working folder for one ServerApp run, and the ways a test looks into
// it: the reference module's call trace, the host log, the process's
// streams. The manager is played by gsmsim's peer library.
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
  // Creates <tmp>/hosttest-XXXXXX with work/ (the host's current folder:
  // Setting.ini, ReferenceModule.ini, rez/NationMsz/<table>) and log/ (the
  // log base).
  explicit HostFolder(const Switches& switches = {});
  ~HostFolder();

  const fs::path& root() const { return root_; }
  const fs::path& work() const { return work_; }

  // Starts a host in work/ with these arguments: stdout and stderr piped,
  // stdin piped when `console` (and SERVERAPP_CONSOLE=1), else the null
  // device. `program` defaults to the deployment folder's ServerApp.
  std::unique_ptr<platform::Process> Start(const std::vector<std::string>& args,
                                           bool console = false,
                                           const std::string& program = "") const;

  // The module's trace lines, without their time stamps.
  std::vector<std::string> Trace() const;
  // Time stamps (the 32-bit clock) of the trace lines that start with
  // `prefix`.
  std::vector<uint32_t> TraceTimes(const std::string& prefix) const;
  size_t CountTrace(const std::string& prefix) const;
  // Waits until a trace line starts with `prefix`.
  bool WaitForTrace(const std::string& prefix, std::chrono::milliseconds timeout) const;

  // Every main-log line written so far (all error_*.log files).
  std::string HostLog() const;
  bool WaitForHostLog(const std::string& text, std::chrono::milliseconds timeout) const;

 private:
  fs::path root_;
  fs::path work_;
  fs::path trace_;
};

// The command line of a host of window `manager` in slot `index`.
inline std::vector<std::string> HostArgs(uint64_t manager, const std::string& index) {
  return {std::to_string(manager), "5000", index, "7", "9"};
}

// Reads a stream of an ended (or ending) process to its end.
std::string ReadAllStderr(platform::Process& process, int timeout_ms = 5000);
std::string ReadAllStdout(platform::Process& process, int timeout_ms = 5000);

// The process's exit code, waiting up to timeout_ms; -1000 when it is still
// running, -signal when a signal ended it.
int WaitExit(platform::Process& process, int timeout_ms);

// True where a thread can refuse a forced stop: on POSIX the stop is a
// signal, which a thread may block; Windows' TerminateThread always works.
#if defined(_WIN32)
inline constexpr bool kThreadsCanBlockTheStop = false;
#else
inline constexpr bool kThreadsCanBlockTheStop = true;
#endif

// The deployment folder's ServerApp.
std::string ServerAppPath();

}  // namespace hosttest
