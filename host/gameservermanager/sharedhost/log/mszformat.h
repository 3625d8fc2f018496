// The .msz message-definition file: reading and writing its bytes, and the
// text conversions between its UTF-16 and the host's 8-bit texts.
//
//   offset 0  u32  record count
//   offset 4  u32  size of the record area in bytes
//   offset 8       the records, back to back:
//                    i64 id, u32 length in UTF-16 units, length units of
//                    UTF-16LE text ending with a NUL unit within its length
//
// Malformed files (the reader never runs past a buffer):
//   - shorter than the 8-byte head, or the area runs past the end of the
//     file, or a record (head or text) runs past the area: refused;
//   - bytes after the last record (in the area or after it): ignored;
//   - a text without a NUL unit in its length: kept, all its units taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace msz {

inline constexpr std::size_t kHeadSize = 8;
inline constexpr std::size_t kRecordHeadSize = 12;
// Files above this size are refused rather than read into memory.
inline constexpr std::size_t kMaxFileSize = 64u << 20;

struct Record {
  std::int64_t id = 0;
  std::u16string text;  // up to (not including) the NUL unit
  bool had_nul = true;  // false: the record's units held no NUL
};

// Reads the records of a whole file image. False, with *problem set to a
// short reason, when the file is refused.
bool Parse(const std::uint8_t* data, std::size_t size, std::vector<Record>* records,
           std::string* problem);

// The bytes of a file holding `records` in that order, each text followed by
// its NUL unit (counted in its length).
std::vector<std::uint8_t> Build(const std::vector<Record>& records);

// UTF-16 to the system's ANSI code page (WideCharToMultiByte(CP_ACP) on
// Windows, 949 on a Korean system; UTF-8 on POSIX), surrogate pairs
// included; an unpaired surrogate becomes U+FFFD. At most `max_bytes` bytes,
// whole characters of that code page only: a text that does not fit is cut
// after its last character that does (platform::Utf16ToAnsi).
std::string Utf16ToAnsi(std::u16string_view text, std::size_t max_bytes);

// UTF-16 to UTF-8 on every system, unbounded (the table's source format,
// which the msz tool reads and writes); unpaired surrogates as U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16. False when `text` is not valid UTF-8 (*out then holds
// U+FFFD in place of each bad sequence).
bool Utf8ToUtf16(std::string_view text, std::u16string* out);

// Each two-character sequence backslash, 'n' becomes CR LF, in place.
void ExpandNewlines(std::string* text);

}  // namespace msz
