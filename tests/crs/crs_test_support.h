// Helpers of the crash tests: temporary folders, whole-file reads, and
// running a helper program with its own environment and folder.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace crs_test {

// A fresh folder under the system's temporary folder, removed with its
// content at the end of the scope.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string ReadWhole(const std::filesystem::path& path);
void WriteWhole(const std::filesystem::path& path, const std::string& bytes);

// Every regular file below folder whose name contains part, sorted.
std::vector<std::filesystem::path> FindFiles(const std::filesystem::path& folder,
                                             const std::string& part);

// How a helper process ended.
struct ProcessResult {
  bool exited = false;  // ended by exit(); else by a signal
  int code = 0;         // exit code or signal number
  std::string output;   // stdout and stderr together
};

// Runs program with arguments in folder cwd, with extra environment
// variables ("NAME=value") added to this process's environment.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& cwd, const std::vector<std::string>& env);

}  // namespace crs_test
