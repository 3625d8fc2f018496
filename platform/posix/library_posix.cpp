// dlopen backend of the library seam.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "platform/fault_injection.h"
#include "platform/identity.h"
#include "platform/library.h"

namespace platform {
namespace {

thread_local uint32_t t_last_error = kLibraryErrorNone;
thread_local std::string t_last_text;

void SetError(uint32_t code, const char* text) {
  t_last_error = code;
  t_last_text = text != nullptr ? text : "";
}

// An injected fault's number is taken as the library error (kLibraryError*).
std::nullptr_t Injected(int error) {
  SetError(static_cast<uint32_t>(error), "injected fault");
  return nullptr;
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

LibraryHandle Open(const std::string& path) {
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    SetError(kLibraryErrorBadFormat, dlerror());
    return nullptr;
  }
  SetError(kLibraryErrorNone, nullptr);
  return handle;
}

}  // namespace

std::string LibraryFileName(std::string_view stem) {
  std::string name(stem);
  name += ".so";
  return name;
}

LibraryHandle LoadLibrary(std::string_view name) {
  if (const int e = fault::Check(fault::Point::kLibraryLoad)) return Injected(e);
  std::string file(name);
  if (file.empty()) {
    SetError(kLibraryErrorNotFound, "empty library name");
    return nullptr;
  }
  if (file.find('/') != std::string::npos) {
    if (!IsFile(file)) {
      SetError(kLibraryErrorNotFound, (file + ": no such file").c_str());
      return nullptr;
    }
    return Open(file);
  }

  std::string exe_dir = ExecutableDir();
  if (!exe_dir.empty() && IsFile(exe_dir + "/" + file)) return Open(exe_dir + "/" + file);

  // The system's own search (LD_LIBRARY_PATH, the cache, the default
  // folders). A bare name never reaches the current directory this way.
  dlerror();
  if (void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    SetError(kLibraryErrorNone, nullptr);
    return handle;
  }
  std::string search_error;
  if (const char* text = dlerror()) search_error = text;

  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof(cwd)) != nullptr && IsFile(std::string(cwd) + "/" + file)) {
    return Open(std::string(cwd) + "/" + file);
  }
  // The loader says "cannot open shared object file" both for a missing
  // file and for one it refused; a refused file in the library path keeps
  // the loader's text but counts as not found, as nothing usable was found.
  SetError(kLibraryErrorNotFound, search_error.c_str());
  return nullptr;
}

void* GetLibrarySymbol(LibraryHandle handle, const char* name) {
  if (const int e = fault::Check(fault::Point::kLibrarySymbol)) return Injected(e);
  if (handle == nullptr || name == nullptr) {
    SetError(kLibraryErrorSymbolNotFound, "no library");
    return nullptr;
  }
  dlerror();
  void* symbol = dlsym(handle, name);
  if (symbol == nullptr) {
    const char* text = dlerror();
    SetError(kLibraryErrorSymbolNotFound, text != nullptr ? text : name);
    return nullptr;
  }
  // dlsym also searches the library's dependencies; GetProcAddress does not.
  link_map* map = nullptr;
  Dl_info info{};
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && dladdr(symbol, &info) != 0 &&
      info.dli_fname != nullptr && map->l_name != nullptr &&
      std::strcmp(info.dli_fname, map->l_name) != 0) {
    SetError(kLibraryErrorSymbolNotFound,
             (std::string(name) + ": not exported by this library").c_str());
    return nullptr;
  }
  SetError(kLibraryErrorNone, nullptr);
  return symbol;
}

bool FreeLibrary(LibraryHandle handle) {
  if (handle == nullptr) return false;
  if (dlclose(handle) != 0) {
    SetError(kLibraryErrorBadFormat, dlerror());
    return false;
  }
  return true;
}

uint32_t LastLibraryError() {
  return t_last_error;
}

std::string LastLibraryErrorText() {
  return t_last_text;
}

}  // namespace platform
