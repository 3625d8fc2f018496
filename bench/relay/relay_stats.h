// Small helpers of the relay benchmark: order statistics, a process's
// memory as /proc reports it, and the frame-start error of a trace.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace relaybench {

// The p-th percentile (0..100) by the nearest-rank rule; 0 for no values.
inline double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const double rank = std::ceil(p / 100.0 * static_cast<double>(values.size()));
  const size_t index = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
  return values[std::min(index, values.size() - 1)];
}

// A "Key:  value kB" field of /proc/<pid>/status or smaps_rollup, in KiB;
// -1 when the process or the field is not there.
inline long ProcKib(uint32_t pid, const std::string& file, const std::string& key) {
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

struct Memory {
  long rss_kib = -1;  // resident set (VmRSS)
  long pss_kib = -1;  // proportional set: shared pages divided among sharers
};

// Time the process's threads spent runnable but waiting for a processor,
// summed over its threads (/proc/<pid>/task/*/schedstat, second field), in
// ms; -1 when it cannot be read.
inline double RunQueueWaitMs(uint32_t pid) {
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

inline Memory MemoryOf(uint32_t pid) {
  return {ProcKib(pid, "status", "VmRSS"), ProcKib(pid, "smaps_rollup", "Pss")};
}

// Frame-start error of successive frame starts (32-bit millisecond stamps)
// of frames `length` ms long. The host keeps its deadlines on a grid (an
// overslept frame does not move the next deadline), so each start is
// compared with the grid; the grid's origin is taken afresh for every block
// of `block` frames as its earliest start, which keeps a rare overrun (a
// frame whose work outlasts it, which does move the grid) from counting
// against all the frames after it. Answers one error per start, >= 0 ms.
inline std::vector<double> FrameStartErrors(const std::vector<uint32_t>& starts, uint32_t length,
                                            size_t block = 100) {
  std::vector<double> errors;
  for (size_t first = 0; first < starts.size(); first += block) {
    const size_t end = std::min(starts.size(), first + block);
    int64_t origin = INT64_MAX;
    for (size_t k = first; k < end; ++k) {
      const int64_t offset = static_cast<int32_t>(starts[k] - starts[first]);
      origin = std::min(origin, offset - static_cast<int64_t>((k - first) * length));
    }
    for (size_t k = first; k < end; ++k) {
      const int64_t offset = static_cast<int32_t>(starts[k] - starts[first]);
      errors.push_back(
          static_cast<double>(offset - static_cast<int64_t>((k - first) * length) - origin));
    }
  }
  return errors;
}

}  // namespace relaybench
