// This image's export of `name`: its export table, where the module finds the
// host's functions through GetModuleHandle(NULL).
#include <windows.h>

void* OwnExport(const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), name));
}
