// The system-specific part of crs_crash_target (crash_target_<system>.cpp).
#pragma once

#include <string>

// Forbids "ptrace" (EPERM) or "clone" of a process (ENOMEM) to this process,
// as a container's seccomp profile may: the dump helper cannot run. False,
// with a message on stderr, when it cannot be done here.
bool DenyToThisProcess(const std::string& what);

void NameThisThread(const char* name);
