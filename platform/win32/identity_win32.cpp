// Win32 identity: Winsock's gethostname, GetComputerNameW, the module file
// name, IsDebuggerPresent and OutputDebugStringA.
#include <winsock2.h>

#include <cstdio>

#include "platform/identity.h"
#include "win32_text.h"

namespace platform {
namespace {

// The code page the host's Korean debugger lines were written in.
constexpr UINT kDebuggerCodePage = 949;

bool WinsockReady() {
  static const bool ready = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

}  // namespace

std::string HostName() {
  if (!WinsockReady()) return {};
  char name[256] = {};
  if (gethostname(name, sizeof(name) - 1) != 0) return {};
  return name;
}

std::string ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return {};
  return win32::WideToAnsi(name, static_cast<int>(size));
}

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(GetCurrentProcessId());
}

std::string ExecutablePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

std::string ExecutableDir() {
  const std::string path = ExecutablePath();
  const size_t sep = path.find_last_of("\\/");
  if (sep == std::string::npos) return {};
  // Keep the separator of a drive root ("C:\").
  return path.substr(0, sep == 2 && path[1] == ':' ? sep + 1 : sep);
}

bool IsDebuggerAttached() {
  return IsDebuggerPresent() != FALSE;
}

void BreakIntoDebugger() {
  if (IsDebuggerPresent()) DebugBreak();
}

void SystemDebuggerOutput(std::string_view text) {
  OutputDebugStringA(win32::Utf8ToCodePage(text, kDebuggerCodePage).c_str());
}

// Stands in for the runtime's debug report: the debugger gets the line, and
// so does stderr when the program has one; the process goes on.
void SystemAssertionReport(std::string_view text) {
  const std::string line = std::string(text) + "\n";
  OutputDebugStringA(line.c_str());
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace platform
