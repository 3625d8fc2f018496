// Debugger output and assertion reports: a test's sink when one is
// installed, else the system's output (SystemDebuggerOutput and
// SystemAssertionReport, in the backend).
#include <mutex>
#include <string>

#include "platform/identity.h"

namespace platform {
namespace {

std::mutex g_sink_mutex;
TextSink g_debugger_sink;
TextSink g_assertion_sink;

// True when a sink took the text. The sink runs outside the lock, so that
// it may itself log.
bool ToSink(const TextSink& sink, std::string_view text) {
  TextSink copy;
  {
    std::lock_guard<std::mutex> lock(g_sink_mutex);
    copy = sink;
  }
  if (!copy) return false;
  copy(text);
  return true;
}

}  // namespace

void DebuggerOutput(std::string_view text) {
  if (!ToSink(g_debugger_sink, text)) SystemDebuggerOutput(text);
}

void ReportAssertion(std::string_view expression, std::string_view file, int line) {
  std::string text = "Assertion failed: ";
  text.append(expression);
  text += " (";
  text.append(file);
  text += ':';
  text += std::to_string(line);
  text += ')';
  if (!ToSink(g_assertion_sink, text)) SystemAssertionReport(text);
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
