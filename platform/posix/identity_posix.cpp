// POSIX identity: /proc for the executable and the tracer, gethostname for
// the host name.
#include "platform/identity.h"

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof(name) - 1) != 0) return {};
  return name;
}

std::string ComputerName() {
  return ComputerNameOf(HostName());
}

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(getpid());
}

std::string ExecutablePath() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return {};
  return std::string(path, static_cast<size_t>(n));
}

std::string ExecutableDir() {
  std::string path = ExecutablePath();
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash == 0 ? 1 : slash);
}

bool IsDebuggerAttached() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return false;
  char line[256];
  bool attached = false;
  while (std::fgets(line, sizeof(line), f)) {
    if (std::strncmp(line, "TracerPid:", 10) == 0) {
      attached = std::strtol(line + 10, nullptr, 10) != 0;
      break;
    }
  }
  std::fclose(f);
  return attached;
}

void BreakIntoDebugger() {
  if (IsDebuggerAttached()) raise(SIGTRAP);
}

void SystemDebuggerOutput(std::string_view text) {
  std::fprintf(stderr, "[debug] %.*s\n", static_cast<int>(text.size()), text.data());
}

void SystemAssertionReport(std::string_view text) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
}

}  // namespace platform
