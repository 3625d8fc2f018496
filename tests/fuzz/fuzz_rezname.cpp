// The package-name check over arbitrary name fields (docs/fuzzing.md).
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "content/rezname.h"

namespace {

bool Unreserved(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
         std::string_view("-._~").find(c) != std::string_view::npos;
}

constexpr std::string_view kHex = "0123456789ABCDEF";  // lower case is never written

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* field = reinterpret_cast<const char*>(data);
  const std::optional<std::string> name = NameFromField(field, size);
  const std::string_view raw(field, size);
  if (name.has_value() != (raw.find('\0') != std::string_view::npos)) std::abort();
  if (!name) return 0;

  const RezNameCheck check = CheckRezFileName(*name);
  if (RezNameCheckText(check) == nullptr) std::abort();
  if (check != RezNameCheck::kOk) return 0;

  if (name->empty() || *name == "." || name->find("..") != std::string::npos) std::abort();
  for (const char c : *name) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || b < 0x20 || b == 0x7F) {
      std::abort();
    }
  }

  const std::string encoded = PercentEncode(*name);
  std::string decoded;
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '%') {
      if (i + 2 >= encoded.size()) std::abort();  // a cut-off escape
      const size_t hi = kHex.find(encoded[i + 1]);
      const size_t lo = kHex.find(encoded[i + 2]);
      if (hi == std::string_view::npos || lo == std::string_view::npos) std::abort();
      const char c = static_cast<char>(hi * 16 + lo);
      if (Unreserved(c)) std::abort();  // unreserved bytes are never encoded
      decoded += c;
      i += 2;
    } else {
      if (!Unreserved(encoded[i])) std::abort();
      decoded += encoded[i];
    }
  }
  if (decoded != *name) std::abort();
  return 0;
}
