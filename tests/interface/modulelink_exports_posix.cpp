// This image's export of `name` in its dynamic symbol table.
#include <dlfcn.h>

void* OwnExport(const char* name) {
  return dlsym(RTLD_DEFAULT, name);
}
