// Packing and unpacking of the values that posted manager messages carry in
// wParam and lParam. Every packer works on 32-bit values: the manager reads
// the halves back as 16-bit words.
#pragma once

#include <cstdint>

namespace proto {

// wParam of every post from the host: (tIndex << 16) | msgID, each taken as
// 16 bits, so a negative index cannot spill into the id.
constexpr uint32_t MakePostWParam(int16_t tIndex, uint32_t msgID) {
  return (static_cast<uint32_t>(static_cast<uint16_t>(tIndex)) << 16) | (msgID & 0xFFFFu);
}

// GAMESERVERMSG_LOAD_MAP from the manager: bits 0-15 map index (signed),
// bits 16-23 round type, bits 24-31 match type.
struct LoadMapParams {
  int16_t tMapIndex;
  uint8_t roundType;
  uint8_t MatchType;
};
constexpr LoadMapParams UnpackLoadMap(uint64_t lParam) {
  return {static_cast<int16_t>(static_cast<uint16_t>(lParam & 0xFFFF)),
          static_cast<uint8_t>((lParam >> 16) & 0xFF), static_cast<uint8_t>((lParam >> 24) & 0xFF)};
}

// GAMESERVERMSG_LOADING_COMPLETE to the manager: high word the map index,
// low word 0 on success.
constexpr uint32_t MakeLoadingCompleteSuccess(int16_t tMapIndex) {
  return static_cast<uint32_t>(static_cast<uint16_t>(tMapIndex)) << 16;
}

// The same message for a failed load: the low word is (-1 - reason) of the
// module's 8-bit signed reason, so reason 0 still reads as a failure (0xFFFF).
constexpr uint32_t MakeLoadingCompleteFailure(int16_t tMapIndex, int8_t reason) {
  const auto low = static_cast<uint16_t>(static_cast<int16_t>(-1 - reason));
  return MakeLoadingCompleteSuccess(tMapIndex) | low;
}

// GAMESERVERMSG_HOST_HEARTBEAT_ACK: low word the user count, high word the
// module's heartbeat value.
constexpr uint32_t MakeHeartbeatAck(uint32_t userCount, uint32_t heartbeatValue) {
  return (userCount & 0xFFFFu) | (heartbeatValue << 16);
}

// GAMESERVERMSG_MODULE_VALUES_NTY: low word the first value, high word the second.
constexpr uint32_t MakeModuleValues(uint32_t first, uint32_t second) {
  return (first & 0xFFFFu) | (second << 16);
}

// Split a 32-bit posted value into its halves (as the manager reads them).
constexpr uint16_t LowWord(uint32_t value) {
  return static_cast<uint16_t>(value & 0xFFFF);
}
constexpr uint16_t HighWord(uint32_t value) {
  return static_cast<uint16_t>(value >> 16);
}

}  // namespace proto
