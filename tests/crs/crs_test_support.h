// Helpers of the crash tests: temporary folders, whole-file reads, and
// running a helper program with its own environment and folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "stackwalk_reading.h"

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

// The bytes of the minidump stream of `type` in dump; empty when missing.
std::string MinidumpStream(const std::string& dump, uint32_t type);

// Threads in the minidump's thread list.
size_t MinidumpThreadCount(const std::string& dump);

// Threads LLDB's "thread list" printed.
size_t LldbThreadCount(const std::string& lldb_output);

// Breakpad's symbol files for binaries, made by its dump_syms, in the
// layout minidump_stackwalk looks up (store/<name>/<id>/<name>.sym).
// False (and a test failure) when one could not be made.
bool MakeSymbols(const std::vector<std::filesystem::path>& binaries,
                 const std::filesystem::path& store);

// The C and C++ runtime libraries this process runs with (the same files
// as a crashed helper program's): their symbols let minidump_stackwalk
// unwind through them by their frame rules instead of guessing.
std::vector<std::filesystem::path> RuntimeLibraries();

// Runs minidump_stackwalk on dump with the symbols of store.
StackwalkReading Stackwalk(const std::filesystem::path& dump, const std::filesystem::path& store);

}  // namespace crs_test
