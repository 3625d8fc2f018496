// A printf-style formatter for the crash path.
//
// The crash handler and the crash-report client format their texts inside a
// dying process, where the C library's printf family may allocate or lock.
// This formatter writes only into the caller's fixed buffer and touches no
// global state, so it is safe in a signal handler.
//
// Supported: flags '-' and '0', a width (digits or '*'), a precision ('.'
// digits or '*': the maximum length of a %s), the length modifiers hh, h, l,
// ll, z and j, and the conversions d i u x X p s c %. An unknown
// conversion is copied as is. The result is always NUL-terminated (when the
// capacity is not 0) and cut to capacity - 1 characters.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "platform/printf_format.h"

namespace crs {

// Formats into buffer (capacity bytes, terminator included); answers the
// number of characters stored, without the terminator.
size_t FormatTo(char* buffer, size_t capacity, const char* format, ...) SERVERAPP_PRINTF(3, 4);
size_t VFormatTo(char* buffer, size_t capacity, const char* format, va_list args);

// Appends to the NUL-terminated text already in buffer; the same rules.
size_t AppendTo(char* buffer, size_t capacity, const char* format, ...) SERVERAPP_PRINTF(3, 4);

// Copies text cut to capacity - 1 characters; answers the length stored.
size_t CopyTo(char* buffer, size_t capacity, const char* text);

// Length of a NUL-terminated text.
size_t TextLength(const char* text);

}  // namespace crs
