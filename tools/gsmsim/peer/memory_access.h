// Lets the hosts this process starts read and write the records it posts
// by address (their ReadProcessMemory / WriteProcessMemory). The backend is
// memory_access_<os>.cpp.
#pragma once

namespace gsmsim {

// Call before starting hosts. Failures are not reported: a host that is
// refused logs its failed read.
void AllowHostsToAccessMemory();

}  // namespace gsmsim
