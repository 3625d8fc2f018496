// Memory and run-queue wait from /proc (Linux).
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "relay_memory.h"

namespace relaybench {

namespace {

// A "Key:  value kB" field of /proc/<pid>/status or smaps_rollup, in KiB;
// -1 when the process or the field is not there.
long ProcKib(uint32_t pid, const std::string& file, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + ":", 0) != 0) continue;
    std::istringstream fields(line.substr(key.size() + 1));
    long kib = -1;
    fields >> kib;
    return kib;
  }
  return -1;
}

}  // namespace

const char* MemoryFigures() {
  return "RSS (PSS)";
}

Memory MemoryOf(uint32_t pid) {
  return {ProcKib(pid, "status", "VmRSS"), ProcKib(pid, "smaps_rollup", "Pss")};
}

// The second field of /proc/<pid>/task/*/schedstat is the time (ns) each
// thread spent on a run queue.
double RunQueueWaitMs(uint32_t pid) {
  std::error_code error;
  const std::string base = "/proc/" + std::to_string(pid) + "/task";
  double total_ns = 0;
  bool any = false;
  for (const auto& task : std::filesystem::directory_iterator(base, error)) {
    std::ifstream in(task.path() / "schedstat");
    double on_cpu = 0, waiting = 0;
    if (in >> on_cpu >> waiting) {
      total_ns += waiting;
      any = true;
    }
  }
  return any ? total_ns / 1e6 : -1;
}

}  // namespace relaybench
