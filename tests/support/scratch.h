// Test helpers that differ by system (scratch_posix.cpp, scratch_win32.cpp).
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testsupport {

// For the few expectations where the systems differ by design.
bool OnWindows();

// "ServerApp.exe" on Windows.
std::string ProgramFileName(const std::string& stem);

// For the few checks Wine cannot answer as Windows does (docs/windows.md).
bool UnderWine();

// The process name on POSIX, its dialog's caption on Windows; or empty.
std::string ProcessTitle(uint32_t pid);

// A new folder in the temp folder; throws std::runtime_error on failure.
std::filesystem::path MakeScratchFolder(const std::string& prefix);

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A null value removes the variable (on Windows an empty one too).
void SetEnv(const char* name, const char* value);

// The shared-memory objects a SERVERAPP_SHM_SESSION left behind (POSIX).
void RemoveSharedMemoryLeftovers(const std::string& session);

}  // namespace testsupport
