#include <stdlib.h>
#include <windows.h>

#include <stdexcept>
#include <string>

#include "support/scratch.h"

namespace testsupport {

bool OnWindows() {
  return true;
}

std::string ProgramFileName(const std::string& stem) {
  return stem + ".exe";
}

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string ProcessTitle(uint32_t pid) {
  struct Search {
    DWORD pid;
    std::string title;
  } search{pid, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        char name[16] = {};
        GetClassNameA(hwnd, name, sizeof(name));
        // The dialog class; a process may own other top-level windows (IME).
        if (owner != s->pid || std::string(name) != "#32770") return TRUE;
        char text[512] = {};
        GetWindowTextA(hwnd, text, sizeof(text));
        s->title = text;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.title;
}

std::filesystem::path MakeScratchFolder(const std::string& prefix) {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  // A taken name costs another try; other failures throw.
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::filesystem::path path = base / (prefix + std::to_string(GetCurrentProcessId()) +
                                               "-" + std::to_string(GetTickCount() + counter++));
    if (std::filesystem::create_directory(path)) return path;
  }
  throw std::runtime_error("cannot create a scratch folder under " + base.string());
}

void SetEnv(const char* name, const char* value) {
  _putenv_s(name, value ? value : "");
}

void RemoveSharedMemoryLeftovers(const std::string&) {}

}  // namespace testsupport
