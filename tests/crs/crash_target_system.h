// The system-specific part of crs_crash_target (crash_target_posix.cpp,
// crash_target_win32.cpp; CMake picks one).
#pragma once

#include <string>

// Forbids `what` to this process from now on: "ptrace" (ptrace fails with
// EPERM) or "clone" (making a process, not a thread, fails with ENOMEM), as
// a container's seccomp profile may. False, with a message on stderr, when
// it cannot be done here.
bool DenyToThisProcess(const std::string& what);

// Names the calling thread (as a debugger and the dump show it).
void NameThisThread(const char* name);

// Blocks the calling thread for good.
[[noreturn]] void WaitForever();
