// This image's export of `name`: its dynamic symbol table, as the module's
// lookup sees it.
#include <dlfcn.h>

void* OwnExport(const char* name) {
  return dlsym(RTLD_DEFAULT, name);
}
