// The little a module needs from the system when it is built without any
// C or C++ library: memory from the process heap, a few kernel32 calls, and
// a count of live allocations for the unload report.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace msvcabi {

// Allocations made through operator new and not yet freed.
int32_t LiveAllocations();

// Bounded text building (no printf here).
struct CText {
  char sz[256] = {};
  uint32_t n = 0;
  CText& Add(const char* psz);
  CText& Num(int64_t nValue);
};

// Writes the text (and a line end) to szPath, replacing the file. Answers
// false when the file could not be written.
bool WriteTextFile(const char* pszPath, const char* pszText);
// One line for a debugger.
void DebugLine(const char* pszText);

}  // namespace msvcabi
