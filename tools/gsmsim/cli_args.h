// Parsing of gsmsim's command-line values: numbers in decimal or 0x-hex,
// hex payloads, and the JSON line that `listen` prints for a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "peer/manager_peer.h"

namespace gsmsim {

// An unsigned number, decimal or "0x"-hexadecimal, no sign, no spaces, at
// most `max`. Nothing on any other text.
std::optional<uint64_t> ParseUnsigned(std::string_view text, uint64_t max = UINT64_MAX);

// A signed 64-bit value: decimal with an optional '-', or 0x-hexadecimal
// taken as the 64-bit pattern (0xFFFFFFFFFFFFFFFF is -1).
std::optional<int64_t> ParseSigned(std::string_view text);

// A window handle: 1 to 2^31 - 1.
std::optional<uint64_t> ParseHandle(std::string_view text);

// Pairs of hex digits, either case, nothing else. "" is an empty payload.
std::optional<std::vector<std::byte>> ParseHex(std::string_view text);
std::string ToHex(std::span<const std::byte> bytes);

// {"kind":"post"|"send","msg":N,"wParam":N,"lParam":N,"dwData":N,"data":"HEX"}
std::string JsonLine(const ReceivedMessage& message);

}  // namespace gsmsim
