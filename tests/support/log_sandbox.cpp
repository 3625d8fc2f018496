#include "support/log_sandbox.h"

#include <algorithm>
#include <fstream>

#include "hostlogger.h"
#include "hostlogger_testing.h"
#include "support/scratch.h"

namespace testsupport {

namespace fs = std::filesystem;

LogSandbox::LogSandbox(const std::string& prefix)
    : dir_(MakeScratchFolder(prefix)), old_cwd_(fs::current_path()) {
  fs::current_path(dir_);
  SetEnv("SERVERAPP_LOG_BASE", LogBase().string().c_str());
  ResetHostLoggerForTesting();
}

LogSandbox::~LogSandbox() {
  ResetHostLoggerForTesting();
  SetEnv("SERVERAPP_LOG_BASE", nullptr);
  std::error_code ignored;
  // A folder in use cannot be removed on Windows.
  fs::current_path(old_cwd_, ignored);
  fs::remove_all(dir_, ignored);
}

void LogSandbox::Start(const std::string& log_info, const char* instance, const char* machine) {
  if (!log_info.empty()) std::ofstream(dir_ / "Setting.ini") << "[LogInfo]\n" << log_info;
  InitHostLogger(machine, "ServerApp", instance, nullptr);
}

std::vector<fs::path> LogSandbox::Files(const std::string& prefix) const {
  std::vector<fs::path> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(LogBase(), ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file() && it->path().filename().string().rfind(prefix, 0) == 0) {
      files.push_back(it->path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string LogSandbox::Text(const std::string& prefix) const {
  std::string all;
  for (const fs::path& file : Files(prefix)) all += ReadFile(file);
  return all;
}

std::vector<std::string> LogSandbox::Lines(const std::string& prefix, std::size_t stamp,
                                           const std::string& line_end) const {
  const std::string all = Text(prefix);
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < all.size()) {
    const std::size_t end = all.find(line_end, at);
    const std::string line = all.substr(at, end == std::string::npos ? end : end - at);
    lines.push_back(line.size() > stamp ? line.substr(stamp) : line);
    if (end == std::string::npos) break;
    at = end + line_end.size();
  }
  return lines;
}

}  // namespace testsupport
