// What the Win32 backend of platform/process_memory.h asks of the system.
#pragma once

#include <windows.h>

#include "platform/process_memory.h"

namespace platform::win32 {

// The rights OpenProcess is asked for: PROCESS_VM_READ to read, and
// PROCESS_VM_OPERATION | PROCESS_VM_WRITE (0x28) to write, all that
// ReadProcessMemory and WriteProcessMemory need. A manager whose process
// grants only these still serves its rooms.
DWORD ProcessMemoryRights(ProcessMemoryAccess access);

}  // namespace platform::win32
