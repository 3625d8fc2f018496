// POSIX identity: /proc for the executable and the tracer, gethostname for
// the host name.
#include "platform/identity.h"

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {
namespace {

std::mutex g_sink_mutex;
TextSink g_debugger_sink;
TextSink g_assertion_sink;

void Emit(TextSink& sink, const char* prefix, std::string_view text) {
  TextSink copy;
  {
    std::lock_guard<std::mutex> lock(g_sink_mutex);
    copy = sink;
  }
  if (copy) {
    copy(text);
    return;
  }
  std::fprintf(stderr, "%s%.*s\n", prefix, static_cast<int>(text.size()), text.data());
}

}  // namespace

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof(name) - 1) != 0) return {};
  return name;
}

std::string ComputerName() {
  return HostName();
}

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(getpid());
}

std::string ExecutablePath() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return {};
  return std::string(path, static_cast<size_t>(n));
}

std::string ExecutableDir() {
  std::string path = ExecutablePath();
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash == 0 ? 1 : slash);
}

bool IsDebuggerAttached() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return false;
  char line[256];
  bool attached = false;
  while (std::fgets(line, sizeof(line), f)) {
    if (std::strncmp(line, "TracerPid:", 10) == 0) {
      attached = std::strtol(line + 10, nullptr, 10) != 0;
      break;
    }
  }
  std::fclose(f);
  return attached;
}

void BreakIntoDebugger() {
  if (IsDebuggerAttached()) raise(SIGTRAP);
}

void DebuggerOutput(std::string_view text) {
  Emit(g_debugger_sink, "[debug] ", text);
}

void ReportAssertion(std::string_view expression, std::string_view file, int line) {
  std::string text = "Assertion failed: ";
  text.append(expression);
  text += " (";
  text.append(file);
  text += ':';
  text += std::to_string(line);
  text += ')';
  Emit(g_assertion_sink, "", text);
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
