// crs_crash_target on Windows: nothing to forbid, no thread names.
#include <cstdio>

#include "crash_target_system.h"

bool DenyToThisProcess(const std::string& what) {
  std::fprintf(stderr, "--deny %s: not on this system\n", what.c_str());
  return false;
}

void NameThisThread(const char*) {}
