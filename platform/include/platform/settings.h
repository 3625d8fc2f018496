// Private-profile (ini file) reads.
//
// Stand in for GetPrivateProfileIntA and GetPrivateProfileStringA. Every
// caller reads ".\Setting.ini", ".\UCCSetting.ini" or "CRS.ini" through these.
//
// File format, as the Windows reader takes it:
//   [Section]            section names and keys match without regard to case
//   Key = value          blanks around key and value are dropped
//   ; comment            only at the start of a line (after blanks)
// A value wrapped in one pair of matching quotes ('...' or "...") loses them.
// The first section of a given name and the first key of a given name in it
// win. Lines may end in LF or CR LF. A backslash in `file` is taken as a
// folder separator on POSIX, so ".\Setting.ini" names ./Setting.ini.
// The file is read afresh on every call; nothing is cached.
#pragma once

#include <cstddef>

namespace platform {

// The integer value of section/key in `file`.
// The value is read as the Windows reader does: leading blanks skipped, an
// optional sign, then decimal digits, or "0x" hexadecimal; reading stops at
// the first other character ("12abc" gives 12, "abc" gives 0). A negative
// value wraps to unsigned (-1 gives 0xFFFFFFFF).
// Answers `default_value` when the file cannot be read, the section or key is
// missing, or the value is empty.
unsigned int GetPrivateProfileInt(const char* section, const char* key, int default_value,
                                  const char* file);

// Copies the value of section/key in `file` into `out` (capacity `size`,
// always NUL-terminated when size > 0), or `default_value` (nullptr counts as
// "") when the file cannot be read or the section or key is missing.
// A value longer than size - 1 bytes is cut to size - 1 bytes.
// Answers the number of bytes copied, without the NUL.
std::size_t GetPrivateProfileString(const char* section, const char* key, const char* default_value,
                                    char* out, std::size_t size, const char* file);

}  // namespace platform
