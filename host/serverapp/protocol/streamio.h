// Field-level helpers over the module's bit-stream messages, in the widths
// the protocol uses, plus the guarded u32 read and the entry-count report.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "interface/ltmessage.h"

namespace proto {

// A guarded u32 read saw the module's "nothing there" pattern. Raised by the
// readers of module messages, caught by the dispatch, which abandons the
// message; it never leaves the dispatch.
class ReadError : public std::exception {
 public:
  const char* what() const noexcept override { return "read error"; }
};

inline constexpr uint32_t kReadErrorPattern = 0x64646464;

// Reads 32 bits; 0x64646464 raises ReadError, any other value is returned.
uint32_t ReadGuardedU32(ILTMessage_Read& msg);

// What a reader or writer did with a count that came from the other side:
// `declared` as sent, `kept` as stored (never above the record's capacity).
// Dispatch logs it when Truncated(): the surplus entries were read and
// dropped (module streams) or not written (manager records).
struct EntryCount {
  uint32_t declared = 0;
  uint32_t kept = 0;
  bool Truncated() const { return declared > kept; }
};

// The log text of a truncated count: "<what>: entry count <declared> above
// the record's <kept>, <surplus> entries dropped".
std::string EntryCountText(std::string_view what, const EntryCount& count);

inline void WriteU8(ILTMessage_Write& msg, uint8_t v) {
  msg.WriteBits(v, 8);
}
inline void WriteI8(ILTMessage_Write& msg, int8_t v) {
  msg.WriteBits(static_cast<uint8_t>(v), 8);
}
inline void WriteBool(ILTMessage_Write& msg, bool v) {
  msg.WriteBits(v ? 1u : 0u, 1);
}
inline void WriteU16(ILTMessage_Write& msg, uint16_t v) {
  msg.WriteBits(v, 16);
}
inline void WriteI16(ILTMessage_Write& msg, int16_t v) {
  msg.WriteBits(static_cast<uint16_t>(v), 16);
}
inline void WriteU32(ILTMessage_Write& msg, uint32_t v) {
  msg.WriteBits(v, 32);
}
// A signed field written in 32 bits is sign-extended.
inline void WriteI32(ILTMessage_Write& msg, int32_t v) {
  msg.WriteBits(static_cast<uint32_t>(v), 32);
}
inline void WriteU64(ILTMessage_Write& msg, uint64_t v) {
  msg.WriteBits64(v, 64);
}
inline void WriteBytes(ILTMessage_Write& msg, const void* data, size_t size) {
  msg.WriteData(data, static_cast<uint32_t>(size * 8));
}

// The text stored in a fixed array of `size` bytes: up to its terminator, or
// the whole array when the sender left no terminator.
inline std::string_view FixedText(const char* field, size_t size) {
  return {field, static_cast<size_t>(std::find(field, field + size, '\0') - field)};
}

// Writes a text kept in a fixed array of `size` bytes. A manager that filled
// the whole array without a terminator gets its text cut at the array's end
// rather than read past it.
void WriteFixedText(ILTMessage_Write& msg, const char* field, size_t size);

inline uint8_t ReadU8(ILTMessage_Read& msg) {
  return static_cast<uint8_t>(msg.ReadBits(8));
}
inline int8_t ReadI8(ILTMessage_Read& msg) {
  return static_cast<int8_t>(msg.ReadBits(8));
}
inline bool ReadBool(ILTMessage_Read& msg) {
  return msg.ReadBits(1) != 0;
}
inline uint16_t ReadU16(ILTMessage_Read& msg) {
  return static_cast<uint16_t>(msg.ReadBits(16));
}
inline int16_t ReadI16(ILTMessage_Read& msg) {
  return static_cast<int16_t>(msg.ReadBits(16));
}
inline uint32_t ReadU32(ILTMessage_Read& msg) {
  return msg.ReadBits(32);
}
inline uint64_t ReadU64(ILTMessage_Read& msg) {
  return msg.ReadBits64(64);
}
inline void ReadBytes(ILTMessage_Read& msg, void* data, size_t size) {
  msg.ReadData(data, static_cast<uint32_t>(size * 8));
}

// Reads a whole record sent as raw data (data(sizeof record)).
template <typename Record>
void ReadRecordData(ILTMessage_Read& msg, Record& record) {
  ReadBytes(msg, &record, sizeof(Record));
}

}  // namespace proto
