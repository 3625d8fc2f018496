// Small helpers of the relay benchmark: order statistics and the
// frame-start error of a trace.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
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
