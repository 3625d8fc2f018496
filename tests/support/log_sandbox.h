// A scratch folder as the current directory with the host logger's base
// below it, and what the logger wrote; all is put back at the end.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

class LogSandbox {
 public:
  // Nothing is logged until Start.
  explicit LogSandbox(const std::string& prefix);
  ~LogSandbox();
  LogSandbox(const LogSandbox&) = delete;
  LogSandbox& operator=(const LogSandbox&) = delete;

  // Setting.ini's [LogInfo] section (none when empty), then the logger.
  void Start(const std::string& log_info, const char* instance = "7_3",
             const char* machine = "ROOMPC01");

  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path LogBase() const { return dir_ / "logs"; }
  std::vector<std::filesystem::path> Files(const std::string& prefix) const;
  // Everything in the log files whose names start with `prefix`.
  std::string Text(const std::string& prefix = "error_") const;
  bool Has(const std::string& text) const { return Text().find(text) != std::string::npos; }
  // Those files' entries, each without its first `stamp` characters.
  std::vector<std::string> Lines(const std::string& prefix, std::size_t stamp,
                                 const std::string& line_end) const;

 private:
  std::filesystem::path dir_;
  std::filesystem::path old_cwd_;
};

}  // namespace testsupport
