#include "cli_args.h"

#include <charconv>

namespace gsmsim {

std::optional<uint64_t> ParseUnsigned(std::string_view text, uint64_t max) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  // from_chars accepts no sign for unsigned types, so "-1" and "+1" fail here.
  if (error != std::errc() || end != text.data() + text.size() || value > max) {
    return std::nullopt;
  }
  return value;
}

std::optional<int64_t> ParseSigned(std::string_view text) {
  if (!text.empty() && text[0] == '-') {
    const auto magnitude = ParseUnsigned(text.substr(1), uint64_t{1} << 63);
    if (!magnitude || text.substr(1, 2) == "0x" || text.substr(1, 2) == "0X") return std::nullopt;
    return static_cast<int64_t>(0 - *magnitude);
  }
  const auto value = ParseUnsigned(text);
  if (!value) return std::nullopt;
  const bool hex = text.size() > 2 && (text[1] == 'x' || text[1] == 'X');
  if (!hex && *value > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return static_cast<int64_t>(*value);
}

std::optional<uint64_t> ParseHandle(std::string_view text) {
  const auto value = ParseUnsigned(text, 0x7FFFFFFF);
  if (!value || *value == 0) return std::nullopt;
  return value;
}

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::optional<std::vector<std::byte>> ParseHex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<std::byte> bytes;
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<std::byte>(high * 16 + low));
  }
  return bytes;
}

std::string ToHex(std::span<const std::byte> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::byte b : bytes) {
    const auto v = static_cast<unsigned>(b);
    text.push_back(kDigits[v >> 4]);
    text.push_back(kDigits[v & 0xF]);
  }
  return text;
}

std::string JsonLine(const ReceivedMessage& m) {
  const bool send = m.kind == ReceivedMessage::Kind::kSend;
  std::string line = "{\"kind\":\"";
  line += send ? "send" : "post";
  line += "\",\"msg\":" + std::to_string(m.msg);
  line += ",\"wParam\":" + std::to_string(m.w_param);
  line += ",\"lParam\":" + std::to_string(m.l_param);
  line += ",\"dwData\":" + std::to_string(m.dw_data);
  line += ",\"data\":\"" + ToHex(m.data) + "\"}";
  return line;
}

}  // namespace gsmsim
