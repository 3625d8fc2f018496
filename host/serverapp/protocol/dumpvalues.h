// The values text of a record dump: pieces "[%lld]" for integers and "[%s]"
// for texts, appended to a text of at most 259 characters. A piece that
// would not fit is left out and the next pieces are still tried, so a long
// record shows its first fields plus whatever short pieces still fit later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

namespace proto {

class DumpValues {
 public:
  // Size of the buffer the text lives in, terminator included.
  static constexpr size_t kCapacity = 260;
  // Size of the buffer one piece is composed in, terminator included.
  static constexpr size_t kPieceCapacity = 64;

  void AddInt(int64_t value);
  void AddText(std::string_view text);
  void Clear() { text_.clear(); }
  const std::string& Text() const { return text_; }

 private:
  void Append(const char* piece, size_t length);
  std::string text_;
};

// A record's bytes with the typed reads the dump tables use: each reads the
// type at a byte offset and adds it as a piece, signed types sign-extended,
// unsigned ones zero-extended (a u64 shows as its signed reading). A read
// that would leave the record adds nothing.
class RecordDump {
 public:
  template <typename Record>
  explicit RecordDump(const Record& record)
      : bytes_(reinterpret_cast<const unsigned char*>(&record)), size_(sizeof(Record)) {
    static_assert(std::is_trivially_copyable_v<Record>);
  }

  RecordDump& i8(size_t offset) { return Int<int8_t>(offset); }
  RecordDump& u8(size_t offset) { return Int<uint8_t>(offset); }
  RecordDump& i16(size_t offset) { return Int<int16_t>(offset); }
  RecordDump& u16(size_t offset) { return Int<uint16_t>(offset); }
  RecordDump& i32(size_t offset) { return Int<int32_t>(offset); }
  RecordDump& u32(size_t offset) { return Int<uint32_t>(offset); }
  RecordDump& i64(size_t offset) { return Int<int64_t>(offset); }
  // The zero-terminated text of a `size`-byte array at `offset`, cut at the
  // array's end when the record carries no terminator there.
  RecordDump& text(size_t offset, size_t size);

  // Reads the value at `offset` without adding a piece (for loop bounds);
  // 0 when outside the record.
  template <typename T>
  T Get(size_t offset) const {
    T value{};
    if (offset <= size_ && sizeof(T) <= size_ - offset) {
      std::memcpy(&value, bytes_ + offset, sizeof(T));
    }
    return value;
  }

  const DumpValues& Values() const { return values_; }

 private:
  template <typename T>
  RecordDump& Int(size_t offset) {
    if (offset <= size_ && sizeof(T) <= size_ - offset) {
      values_.AddInt(static_cast<int64_t>(Get<T>(offset)));
    }
    return *this;
  }

  const unsigned char* bytes_;
  size_t size_;
  DumpValues values_;
};

}  // namespace proto
