// The package file name the manager sends with a content-package map load.
// It ends up in local paths and in the download URL, so only a plain file
// name is accepted.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Why a package file name was refused; kOk when it is a plain file name.
enum class RezNameCheck {
  kOk,
  kEmpty,
  kNotTerminated,  // the record's name field holds no terminator
  kSeparator,      // '/', '\\' or ':' (a drive-relative name on Windows)
  kDotDot,         // ".." anywhere, or the name "."
  kControl,        // a byte below 0x20, or 0x7F
  kWildcard,       // '*' or '?': a search pattern on Windows
};

// A short English text for the log line ("path separator", ...).
const char* RezNameCheckText(RezNameCheck check);

// Checks a name. Bytes of 0x80 and above (UTF-8 names) are accepted.
RezNameCheck CheckRezFileName(std::string_view name);

// The text of a fixed-size name field up to its first NUL; nullopt when the
// field holds none.
std::optional<std::string> NameFromField(const char* field, std::size_t size);

// `name` with every byte other than A-Z a-z 0-9 - . _ ~ written as %XX
// (upper-case hex), so that a space, '#', '%' or '?' reaches the server as
// part of the path.
std::string PercentEncode(std::string_view name);
