// An ini integer read for the crash path.
//
// The crash handler reads "FullDump" of Setting.ini at crash time, when the
// general settings reader (which allocates) must not run. This reader gives
// the same answers as platform::GetPrivateProfileInt for files up to
// kCrashProfileMaxSize bytes (the rest of a larger file is not seen), using
// one static buffer: one caller at a time.
#pragma once

#include <cstddef>

namespace crs {

inline constexpr size_t kCrashProfileMaxSize = 64 * 1024;

unsigned int CrashProfileInt(const char* section, const char* key, int default_value,
                             const char* file);

}  // namespace crs
