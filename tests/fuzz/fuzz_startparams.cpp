// The start parameters' readers and the title and folder made from them.
// Input layout and invariants: docs/fuzzing.md.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "startparams.h"

using fuzz::Require;

namespace {

// The decimal an atoi-style reader takes from `text`, if within [lo, hi].
std::optional<int64_t> Decimal(const std::string& text, int64_t lo, int64_t hi) {
  size_t i = std::min(text.find_first_not_of(" \t\n\v\f\r"), text.size());
  // from_chars takes a '-' but no '+'.
  if (i + 1 < text.size() && text[i] == '+' && text[i + 1] != '-') ++i;
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), value);
  if (error == std::errc::invalid_argument) return int64_t{0};  // no digits
  if (error != std::errc{} || value < lo || value > hi) return std::nullopt;
  return value;
}

void CheckTexts(const std::vector<std::string>& args, const StartParams& p) {
  const std::string caption = "ServerApp";
  const std::string title = FormatTitle(caption, args, p);
  Require(title.size() <= 1023, "title past its buffer");
  Require(title.compare(0, caption.size(), caption) == 0, "title lost its caption");
  if (!args.empty()) {
    std::string line;
    for (const std::string& a : args) {
      if (!line.empty()) line += ' ';
      line += a;
    }
    // An argument with a NUL ends the text there, as a C string does.
    const std::string whole = caption + " (USN : " + line + ")";
    if (whole.size() <= 1023 && whole.find('\0') == std::string::npos) {
      Require(title == whole, "title differs from the command line");
    }
  }
  const std::string folder = InstanceFolderName(p.nGroupNumber, p.sServerIndex);
  Require(folder == std::to_string(p.nGroupNumber) + "_" + std::to_string(p.sServerIndex),
          "instance folder name");
}

void CommandLine(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  for (size_t start = 0; size > 0 && start <= size;) {
    const size_t end = std::min(line.find('\0', start), size);
    args.push_back(line.substr(start, end - start));
    start = end + 1;
  }

  const StartParams p = ParseCommandLineParams(args);
  const StartParams initial;
  Require(p.sServerIndex == static_cast<int16_t>(p.nServerIndexArg), "server index cut");
  // An absent argument keeps its initial value; a decimal that fits
  // [lo, hi] is read exactly.
  auto check = [&](size_t i, int64_t got, int64_t initial, int64_t lo, int64_t hi,
                   const char* why) {
    if (args.size() <= i) return Require(got == initial, why);
    if (auto v = Decimal(args[i], lo, hi)) Require(got == *v, why);
  };
  constexpr int64_t kWide = INT64_MAX / 10;
  check(0, static_cast<int64_t>(p.hManagerWnd), static_cast<int64_t>(initial.hManagerWnd), -kWide,
        kWide, "handle");
  check(1, p.nPort, initial.nPort, INT32_MIN, INT32_MAX, "port");
  check(2, p.nServerIndexArg, initial.nServerIndexArg, -kWide, kWide, "server index");
  check(3, p.nReserved, initial.nReserved, INT32_MIN, INT32_MAX, "reserved");
  check(4, p.nGroupNumber, initial.nGroupNumber, INT32_MIN, INT32_MAX, "group");
  if (auto v = args.size() > 2 ? Decimal(args[2], -kWide, kWide) : std::nullopt) {
    Require(ServerIndexInRange(p) == (*v >= 0 && *v <= 199), "server index range");
  }
  CheckTexts(args, p);
}

void ParameterFile(const uint8_t* data, size_t size) {
  static const fuzz::ScratchFile file("params");
  StartParams p;
  Require(ReadParameterFile(file.Write(data, size), &p), "parameter file not read");
  Require(p.sServerIndex == static_cast<int16_t>(p.nServerIndexArg), "file server index");
  // The first field is a decimal int: a small one is read exactly, as the
  // low half of the handle.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t first = text.find_first_not_of(" \t\n\v\f\r");
  const bool digit =
      first != std::string::npos && std::isdigit(static_cast<unsigned char>(text[first]));
  if (auto v = Decimal(text, 0, 0x7FFFFFFF); v && digit) {
    Require(p.hManagerWnd == static_cast<uint64_t>(*v), "file handle value");
  }
  CheckTexts({}, p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  if ((data[0] & 1) == 0) {
    CommandLine(data + 1, size - 1);
  } else {
    ParameterFile(data + 1, size - 1);
  }
  return 0;
}
