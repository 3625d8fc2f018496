// The logger's safe-format check over arbitrary format texts and argument
// lists. The first byte picks up to four arguments of different kinds from
// the next bytes; the rest is the format. Whatever the text, formatting must
// not read an argument that is not there (ASan sees it) nor crash, a refused
// text must come back raw, and a fitting one must format.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "safeformat.h"

using hostlog::FormatArg;

namespace {

FormatArg PickArg(uint8_t kind, uint64_t bits) {
  static const char kText[] = "text";
  static int object = 0;
  switch (kind % 7) {
    case 0:
      return hostlog::MakeFormatArg(static_cast<int>(bits));
    case 1:
      return hostlog::MakeFormatArg(static_cast<long long>(bits));
    case 2:
      return hostlog::MakeFormatArg(static_cast<short>(bits));
    case 3: {
      double d;
      std::memcpy(&d, &bits, sizeof(d));  // NaN and infinities included
      return hostlog::MakeFormatArg(d);
    }
    case 4:
      return hostlog::MakeFormatArg(kText);
    case 5:
      return hostlog::MakeFormatArg(static_cast<const char*>(nullptr));
    default:
      return hostlog::MakeFormatArg(static_cast<const void*>(&object));
  }
}

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
    args[i] = PickArg(data[1 + i * 9], bits);
  }
  const std::string_view format(reinterpret_cast<const char*>(data + head), size - head);

  std::string out;
  const bool fits = hostlog::FormatChecked(format, args, count, &out);
  if (fits != hostlog::FormatFits(format, args, count)) std::abort();
  if (!fits && out.compare(0, format.size(), format) != 0) std::abort();  // raw text first
  return 0;
}
