// The fixture of every test that reads what the host logger wrote: a fresh
// scratch folder as the current directory, the logger's base below it
// (SERVERAPP_LOG_BASE), and the text of its files. All is put back and
// removed at the end.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

class LogSandbox {
 public:
  // Makes the folder (its name starts with `prefix`) and resets the logger;
  // nothing is logged until Start.
  explicit LogSandbox(const std::string& prefix);
  ~LogSandbox();
  LogSandbox(const LogSandbox&) = delete;
  LogSandbox& operator=(const LogSandbox&) = delete;

  // Writes Setting.ini with `log_info` as its [LogInfo] section (none when
  // empty) and starts the logger as start-up does.
  void Start(const std::string& log_info, const char* instance = "7_3",
             const char* machine = "ROOMPC01");

  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path LogBase() const { return dir_ / "logs"; }
  // The log files whose names start with `prefix`, in path order.
  std::vector<std::filesystem::path> Files(const std::string& prefix) const;
  // Everything in the log files whose names start with `prefix` ("error_",
  // "RWPM_", ...); empty when there is none.
  std::string Text(const std::string& prefix = "error_") const;
  // True when the main log holds `text`.
  bool Has(const std::string& text) const { return Text().find(text) != std::string::npos; }
  // Those files' entries, split at `line_end`, each without its first
  // `stamp` characters (the time stamp).
  std::vector<std::string> Lines(const std::string& prefix, std::size_t stamp,
                                 const std::string& line_end) const;

 private:
  std::filesystem::path dir_;
  std::filesystem::path old_cwd_;
};

}  // namespace testsupport
