// The logger's safe-format check over arbitrary formats and argument lists
// (docs/fuzzing.md); ASan sees an argument read that is not there.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "safeformat.h"

using hostlog::FormatArg;

namespace {

int g_object = 0;

// The argument kinds a kind byte picks (mod 7), each made from 8 value bytes.
constexpr FormatArg (*kPickArg[])(uint64_t) = {
    [](uint64_t bits) { return hostlog::MakeFormatArg(static_cast<int>(bits)); },
    [](uint64_t bits) { return hostlog::MakeFormatArg(static_cast<long long>(bits)); },
    [](uint64_t bits) { return hostlog::MakeFormatArg(static_cast<short>(bits)); },
    // NaN and infinities included.
    [](uint64_t bits) { return hostlog::MakeFormatArg(std::bit_cast<double>(bits)); },
    [](uint64_t) { return hostlog::MakeFormatArg("text"); },
    [](uint64_t) { return hostlog::MakeFormatArg(static_cast<const char*>(nullptr)); },
    [](uint64_t) { return hostlog::MakeFormatArg(static_cast<const void*>(&g_object)); }};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t count = data[0] % 5;
  const size_t head = 1 + count * 9;
  if (size < head) return 0;

  // One slot more than `count`, as SafeFormat passes them.
  FormatArg args[5];
  for (size_t i = 0; i < count; ++i) {
    uint64_t bits;
    std::memcpy(&bits, data + 2 + i * 9, sizeof(bits));
    args[i] = kPickArg[data[1 + i * 9] % std::size(kPickArg)](bits);
  }
  const std::string_view format(reinterpret_cast<const char*>(data + head), size - head);

  std::string out;
  const bool fits = hostlog::FormatChecked(format, args, count, &out);
  if (fits != hostlog::FormatFits(format, args, count)) std::abort();
  if (!fits && out.compare(0, format.size(), format) != 0) std::abort();  // raw text first
  return 0;
}
