// CodeView records for a minidump's module list. Private to the Win32
// crash backend.
#pragma once

#include <windows.h>

namespace platform::crash_win32 {

// Gives every module of the dump in `file` (open for reading and writing,
// written by MiniDumpWriteDump for this process) that has no CodeView
// record the one of its image in memory (the build id's RSDS record), so
// the module list names the exact build. Wine's MiniDumpWriteDump writes
// none; Windows' does, and those are left alone. Answers false when the
// dump's header could not be read back; the dump stays valid either way.
bool FillCodeViewRecords(HANDLE file);

}  // namespace platform::crash_win32
