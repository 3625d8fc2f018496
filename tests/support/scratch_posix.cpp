#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "support/scratch.h"

namespace testsupport {

bool OnWindows() {
  return false;
}

std::string ProgramFileName(const std::string& stem) {
  return stem;
}

bool UnderWine() {
  return false;
}

std::string ProcessTitle(uint32_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

std::filesystem::path MakeScratchFolder(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + pattern);
  return pattern;
}

void SetEnv(const char* name, const char* value) {
  if (value) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
}

void RemoveSharedMemoryLeftovers(const std::string& session) {
  const std::string prefix = "u" + std::to_string(::getuid()) + "." + session + ".";
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) == 0) ::shm_unlink(("/" + name).c_str());
  }
}

}  // namespace testsupport
