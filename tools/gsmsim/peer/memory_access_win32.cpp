#include "memory_access.h"

namespace gsmsim {

// Nothing to do: a process of the same user may open this one with
// PROCESS_VM_READ | PROCESS_VM_WRITE by default.
void AllowHostsToAccessMemory() {}

}  // namespace gsmsim
