// The system's error state, the C runtime's stream limit and its 8-bit
// (ANSI) text: the few places where the host's texts and numbers depend on
// what the system itself answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The error number of the last failed system call on this thread: errno on
// POSIX, GetLastError() on Windows. Every log line that reports "the
// system's error number" takes it from here, right after the failed call
// (the seam's own failures, injected ones included, leave it set).
uint32_t LastSystemError();

// Raises the C runtime's limit of streams open at once to `count`
// (_setmaxstdio on Windows). False when the runtime refuses. POSIX has no
// such cap (only the descriptor limit, which the host leaves alone): true.
bool SetMaxOpenStreams(int count);

// The runtime's stream limit; -1 where there is none (POSIX).
int MaxOpenStreams();

// The system's ANSI code page: GetACP() on Windows; 65001 (UTF-8) on POSIX,
// whose 8-bit texts are UTF-8.
uint32_t AnsiCodePage();

// UTF-16 in the ANSI code page, at most `max_bytes` bytes and whole
// characters only: a text that does not fit is cut after its last
// character that does, never inside a multi-byte character. A surrogate
// pair is one character; an unpaired surrogate becomes U+FFFD, and a
// character the code page lacks becomes its default character ('?').
std::string Utf16ToAnsi(std::u16string_view text, std::size_t max_bytes);

// UTF-16 in UTF-8 on every system, with the same rules as Utf16ToAnsi.
std::string Utf16ToUtf8(std::u16string_view text, std::size_t max_bytes);

}  // namespace platform
