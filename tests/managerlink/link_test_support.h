// Helpers of the manager-link tests: the host logger in a scratch folder
// and the lines the link writes, and test bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/log_sandbox.h"

namespace linktest {

// Entries without time stamp and line end: main log "[ERROR] text", RWPM
// and IPCMSG "text".
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

// Byte i is (i * 7 + seed) & 0xFF.
inline std::vector<std::byte> Pattern(size_t size, uint8_t seed) {
  std::vector<std::byte> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::byte>((i * 7 + seed) & 0xFF);
  return bytes;
}

}  // namespace linktest
