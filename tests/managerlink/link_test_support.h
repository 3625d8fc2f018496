// Helpers of the manager-link tests: a scratch folder with the host logger
// pointed into it, the lines of its log files, a fault-injecting system for
// the link, and the manager stand-in process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "managerlink/linksystem.h"
#include "platform/process.h"
#include "platform/window.h"
#include "support/log_sandbox.h"

namespace linktest {

// The shared log sandbox with Setting.ini's [LogInfo] switches, and the
// entries of the files the link writes, without time stamp and line end:
// main log "[ERROR] text", RWPM and IPCMSG "text".
class LogSandbox : public testsupport::LogSandbox {
 public:
  LogSandbox(int ipc_memory, int ipc_msg) : testsupport::LogSandbox("managerlink-") {
    Start("LogLevel=4\nIPCMemory=" + std::to_string(ipc_memory) +
          "\nIPCMsg=" + std::to_string(ipc_msg) + "\n");
  }
  // "14:03:07.015 " before, " \r\r\n" after.
  std::vector<std::string> MainLines() const { return Lines("error_", 13, " \r\r\n"); }
  // "2026-12-05-14:03:07.015, " before, " \r\n" after.
  std::vector<std::string> RwpmLines() const { return Lines("RWPM_", 25, " \r\n"); }
  std::vector<std::string> IpcMsgLines() const { return Lines("IPCMSG_", 25, " \r\n"); }
  bool HasRwpmFile() const { return !Files("RWPM_").empty(); }
};

// The real system calls, except those a test chooses to fail, and a count
// of the processes opened.
class FaultySystem final : public ManagerLinkSystem {
 public:
  bool fail_process_id = false;
  bool fail_open = false;
  bool fail_allocation = false;
  int opens = 0;

  uint32_t GetWindowProcessId(platform::WindowHandle window) override {
    return fail_process_id ? 0 : ManagerLinkSystem::GetWindowProcessId(window);
  }
  std::unique_ptr<platform::ProcessMemory> OpenProcess(
      uint32_t pid, platform::ProcessMemoryAccess access) override {
    ++opens;
    return fail_open ? nullptr : ManagerLinkSystem::OpenProcess(pid, access);
  }
  void* AllocateRecord(size_t size) override {
    return fail_allocation ? nullptr : ManagerLinkSystem::AllocateRecord(size);
  }
};

// The test bytes of a buffer: byte i is (i * 7 + seed) & 0xFF.
std::vector<std::byte> Pattern(size_t size, uint8_t seed);

// A manager stand-in in a process of its own: the test binary relaunched
// with "--manager", holding a manager peer window and buffers in its own
// memory. Commands go over its stdin, answers come back on its stdout.
class ManagerProcess {
 public:
  // Starts it; null (and a failed test assertion) when it does not come up.
  static std::unique_ptr<ManagerProcess> Start();
  ~ManagerProcess() { Stop(); }

  platform::WindowHandle window() const { return window_; }
  uint32_t pid() const { return process_->pid(); }

  // A buffer in the manager's memory holding `bytes`; its address, or 0.
  uint64_t Put(std::span<const std::byte> bytes);
  // The current bytes of a buffer made by Put (empty when unknown).
  std::vector<std::byte> Get(uint64_t address);
  // Ends the process and waits for it: its window is gone afterwards.
  void Stop();

 private:
  ManagerProcess() = default;
  std::string Ask(const std::string& command);

  std::unique_ptr<platform::Process> process_;
  platform::WindowHandle window_ = 0;
};

// Runs the manager side and answers true when argv asks for it ("--manager"):
// the test main calls it first.
bool RunAsManagerProcess(int argc, char** argv, int* exit_code);

}  // namespace linktest
