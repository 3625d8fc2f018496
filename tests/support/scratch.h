// Test helpers that differ by system: a fresh scratch folder and changes to
// this process's environment. The system calls live in scratch_posix.cpp and
// scratch_win32.cpp; CMake picks one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testsupport {

// True in the Windows build: for the few expectations where the systems
// differ by design (documented in the seam headers).
bool OnWindows();

// The file name of program `stem` on this system ("ServerApp.exe" on
// Windows).
std::string ProgramFileName(const std::string& stem);

// True when this Windows program runs under Wine (never on POSIX): for the
// few checks Wine cannot answer as Windows does (docs/windows.md).
bool UnderWine();

// The name process `pid` shows its user: the process name on POSIX (the
// first 15 bytes of the host's title), the caption of its dialog on Windows.
// Empty when there is none.
std::string ProcessTitle(uint32_t pid);

// Creates a new, empty folder under the system's temp folder whose name
// starts with `prefix`; throws std::runtime_error when none can be made.
std::filesystem::path MakeScratchFolder(const std::string& prefix);

// The whole file; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Sets (value non-null) or removes (value null) a variable of this
// process's environment.
// On Windows an empty value removes the variable too.
void SetEnv(const char* name, const char* value);

// Removes the named shared-memory objects a test session (the value of
// SERVERAPP_SHM_SESSION) may have left behind, killed holders' included.
// Nothing to do on Windows, where the system removes them with their last
// holder.
void RemoveSharedMemoryLeftovers(const std::string& session);

}  // namespace testsupport
