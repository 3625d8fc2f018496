// Win32 identity: Winsock's gethostname, GetComputerNameW, the module file
// name, IsDebuggerPresent and OutputDebugStringA.
#include <winsock2.h>

#include <cstdio>
#include <mutex>

#include "platform/identity.h"
#include "win32_text.h"

namespace platform {
namespace {

// The code page the host's Korean debugger lines were written in.
constexpr UINT kDebuggerCodePage = 949;

std::mutex g_sink_mutex;
TextSink g_debugger_sink;
TextSink g_assertion_sink;

// Answers true when a sink took the text.
bool ToSink(TextSink& sink, std::string_view text) {
  TextSink copy;
  {
    std::lock_guard<std::mutex> lock(g_sink_mutex);
    copy = sink;
  }
  if (!copy) return false;
  copy(text);
  return true;
}

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

void DebuggerOutput(std::string_view text) {
  if (ToSink(g_debugger_sink, text)) return;
  OutputDebugStringA(win32::Utf8ToCodePage(text, kDebuggerCodePage).c_str());
}

// Stands in for the runtime's debug report: the debugger gets the line, and
// so does stderr when the program has one; the process goes on.
void ReportAssertion(std::string_view expression, std::string_view file, int line) {
  std::string text = "Assertion failed: ";
  text.append(expression);
  text += " (";
  text.append(file);
  text += ':';
  text += std::to_string(line);
  text += ')';
  if (ToSink(g_assertion_sink, text)) return;
  OutputDebugStringA((text + "\n").c_str());
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

void SetDebuggerOutputSink(TextSink sink) {
  std::lock_guard<std::mutex> lock(g_sink_mutex);
  g_debugger_sink = std::move(sink);
}

void SetAssertionSink(TextSink sink) {
  std::lock_guard<std::mutex> lock(g_sink_mutex);
  g_assertion_sink = std::move(sink);
}

}  // namespace platform
