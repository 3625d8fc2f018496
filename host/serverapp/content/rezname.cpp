#include "content/rezname.h"

#include <cstring>

const char* RezNameCheckText(RezNameCheck check) {
  switch (check) {
    case RezNameCheck::kOk:
      return "ok";
    case RezNameCheck::kEmpty:
      return "empty name";
    case RezNameCheck::kNotTerminated:
      return "name not terminated";
    case RezNameCheck::kSeparator:
      return "path separator";
    case RezNameCheck::kDotDot:
      return "dot name";
    case RezNameCheck::kControl:
      return "control character";
    case RezNameCheck::kWildcard:
      return "wildcard";
  }
  return "unknown";
}

RezNameCheck CheckRezFileName(std::string_view name) {
  if (name.empty()) return RezNameCheck::kEmpty;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return RezNameCheck::kControl;
    if (c == '/' || c == '\\' || c == ':') return RezNameCheck::kSeparator;
    if (c == '*' || c == '?') return RezNameCheck::kWildcard;
  }
  if (name == "." || name.find("..") != std::string_view::npos) return RezNameCheck::kDotDot;
  return RezNameCheck::kOk;
}

std::optional<std::string> NameFromField(const char* field, std::size_t size) {
  const void* end = std::memchr(field, '\0', size);
  if (end == nullptr) return std::nullopt;
  return std::string(field, static_cast<const char*>(end));
}

std::string PercentEncode(std::string_view name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size() * 3);
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xF]);
    }
  }
  return out;
}
