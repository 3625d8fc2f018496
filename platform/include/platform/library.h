// Loading a shared library at run time (LoadLibrary, GetProcAddress,
// FreeLibrary, GetLastError).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// An opaque loaded-library handle; null means none.
using LibraryHandle = void*;

// Error numbers of the library calls, the values Win32 uses for the same
// causes so that log lines read alike on both systems.
inline constexpr uint32_t kLibraryErrorNone = 0;
inline constexpr uint32_t kLibraryErrorNotFound = 126;        // no file in any searched place
inline constexpr uint32_t kLibraryErrorSymbolNotFound = 127;  // no such export
inline constexpr uint32_t kLibraryErrorBadFormat = 193;       // found, but the loader refused it

// The platform's file name of a library: "<stem>.so" on POSIX, "<stem>.dll"
// on Windows.
std::string LibraryFileName(std::string_view stem);

// Loads a library. A name with a path separator is loaded as given. A bare
// name is searched in the executable's folder, then in the system's library
// path, then in the current directory (LoadLibrary's order). Answers null on
// failure and sets the calling thread's last library error.
LibraryHandle LoadLibrary(std::string_view name);

// The address of the exported symbol, or null (last error
// kLibraryErrorSymbolNotFound) when the library has none or handle is null.
// Looks only in that library, never in the ones it depends on.
void* GetLibrarySymbol(LibraryHandle handle, const char* name);

// Unloads the library; false when the handle was not a loaded library.
bool FreeLibrary(LibraryHandle handle);

// The calling thread's last library error (kLibraryError*), 0 after a
// success.
uint32_t LastLibraryError();

// The loader's text for the last failure on this thread; empty when none.
std::string LastLibraryErrorText();

}  // namespace platform
