// LoadLibrary backend of the library seam. Its error numbers are Win32's
// own, so they pass through; GetProcAddress looks only in the one module.
#include "platform/fault_injection.h"
#include "platform/library.h"
#include "win32_text.h"

// windows.h maps these names onto its own A/W functions.
#undef LoadLibrary

namespace platform {
namespace {

thread_local uint32_t t_last_error = kLibraryErrorNone;
thread_local std::string t_last_text;

void SetError(uint32_t code, std::string text) {
  t_last_error = code;
  t_last_text = std::move(text);
}

// The seam's error for a failed LoadLibrary: nothing found, or found and
// refused (a bad image, a missing dependency's import, a failed DllMain).
uint32_t LoadError(DWORD error) {
  switch (error) {
    case ERROR_MOD_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return kLibraryErrorNotFound;
    default:
      return kLibraryErrorBadFormat;
  }
}

}  // namespace

std::string LibraryFileName(std::string_view stem) {
  std::string name(stem);
  name += ".dll";
  return name;
}

LibraryHandle LoadLibrary(std::string_view name) {
  if (int e = fault::Check(fault::Point::kLibraryLoad)) {
    SetLastError(static_cast<DWORD>(e));
    SetError(LoadError(static_cast<DWORD>(e)), win32::ErrorText(static_cast<DWORD>(e)));
    return nullptr;
  }
  if (name.empty()) {
    SetError(kLibraryErrorNotFound, "empty library name");
    return nullptr;
  }
  // A bare name takes the system's search (the executable's folder, the
  // system folders, the current directory, PATH); a path is loaded as given.
  const std::string file = win32::NativePath(std::string(name).c_str());
  // No "cannot find the DLL" message box for a missing dependency.
  const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = ::LoadLibraryA(file.c_str());
  const DWORD error = GetLastError();
  SetErrorMode(old_mode);
  if (module == nullptr) {
    SetError(LoadError(error), file + ": " + win32::ErrorText(error));
    return nullptr;
  }
  SetError(kLibraryErrorNone, {});
  return module;
}

void* GetLibrarySymbol(LibraryHandle handle, const char* name) {
  if (int e = fault::Check(fault::Point::kLibrarySymbol)) {
    SetLastError(static_cast<DWORD>(e));
    SetError(kLibraryErrorSymbolNotFound, win32::ErrorText(static_cast<DWORD>(e)));
    return nullptr;
  }
  if (handle == nullptr || name == nullptr) {
    SetError(kLibraryErrorSymbolNotFound, "no library");
    return nullptr;
  }
  FARPROC symbol = GetProcAddress(static_cast<HMODULE>(handle), name);
  if (symbol == nullptr) {
    SetError(kLibraryErrorSymbolNotFound,
             std::string(name) + ": " + win32::ErrorText(GetLastError()));
    return nullptr;
  }
  SetError(kLibraryErrorNone, {});
  return reinterpret_cast<void*>(symbol);
}

bool FreeLibrary(LibraryHandle handle) {
  if (handle == nullptr) return false;
  if (!::FreeLibrary(static_cast<HMODULE>(handle))) {
    const DWORD error = GetLastError();
    SetError(kLibraryErrorBadFormat, win32::ErrorText(error));
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
