#include "stackwalk_reading.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <regex>
#include <sstream>

namespace crs_test {
namespace {

bool IsNumber(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(line);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!line.empty() && line.back() == separator) parts.emplace_back();
  return parts;
}

}  // namespace

int StackwalkReading::ThreadWith(const std::string& frame) const {
  for (size_t t = 0; t < threads.size(); ++t) {
    for (const std::string& f : threads[t]) {
      if (f.rfind(frame, 0) == 0) return static_cast<int>(t);
    }
  }
  return -1;
}

bool StackwalkReading::Identifies(const std::string& module) const {
  auto it = modules.find(module);
  return it != modules.end() && !it->second.empty();
}

StackwalkReading ParseStackwalk(const std::string& output, bool ran_ok) {
  StackwalkReading reading;
  reading.text = output;
  reading.ran = ran_ok;
  reading.ok = ran_ok;
  // Errors of the reader of the file fail; the unwinder's (a frame rule it
  // cannot apply, logged by its evaluator) do not.
  static const std::regex kReadError("minidump(_processor)?\\.cc:[0-9]+: ERROR");
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (std::regex_search(line, kReadError)) reading.ok = false;
    std::vector<std::string> f = Split(line, '|');
    if (f.size() == 4 && f[0] == "Crash") {
      reading.crash_reason = f[1];
      reading.crashed_thread = std::atoi(f[3].c_str());
    } else if (f.size() == 8 && f[0] == "Module") {
      // Module|name|version|debug file|debug id|base|end|main
      reading.modules[f[1]] = f[4];
    } else if (f.size() == 7 && IsNumber(f[0]) && IsNumber(f[1])) {
      size_t t = std::stoul(f[0]);
      if (reading.threads.size() <= t) reading.threads.resize(t + 1);
      reading.threads[t].push_back(f[3].empty() ? f[2] : f[2] + "!" + f[3]);
    }
  }
  return reading;
}

}  // namespace crs_test
