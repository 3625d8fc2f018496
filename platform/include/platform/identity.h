// Who and where this process is, and its link to a debugger.
//
// These stand in for gethostname, GetComputerNameW, GetCurrentProcessId,
// GetModuleFileName, IsDebuggerPresent, DebugBreak, OutputDebugStringA and the
// C runtime's debug assertion report. None of them fails loudly: each answers
// an empty text or false when the system cannot tell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// The machine's network host name; empty when it cannot be read.
std::string HostName();

// The machine's own (NetBIOS-like) name, at most kComputerNameMax
// characters: on POSIX ComputerNameOf(HostName()). Empty when unknown or too
// long.
std::string ComputerName();

// A computer name is what a 16-character buffer holds.
inline constexpr size_t kComputerNameMax = 15;

// The computer name of a host name: the whole name when it fits
// kComputerNameMax, else its first label (a fully qualified name's host
// part) when that fits, else empty.
std::string ComputerNameOf(std::string_view host_name);

// This process's id.
uint32_t CurrentProcessId();

// Full path of the running executable; empty when unknown.
std::string ExecutablePath();

// Folder of the running executable, without a trailing separator; empty
// when unknown.
std::string ExecutableDir();

// True while a debugger (a tracer on POSIX) is attached to this process.
bool IsDebuggerAttached();

// Stops in the attached debugger. Does nothing when none is attached, so that
// a production process never dies of a breakpoint trap.
void BreakIntoDebugger();

// A line for the debugger's output window. On POSIX it goes to stderr,
// prefixed "[debug] ", unless a sink is installed.
void DebuggerOutput(std::string_view text);

// The runtime's debug assertion report: the expression failed at file:line.
// It never ends the process. On POSIX it goes to stderr unless a sink is
// installed.
void ReportAssertion(std::string_view expression, std::string_view file, int line);

// Tests capture debugger output and assertion reports through these sinks;
// an empty function restores the default (the system's, below).
using TextSink = std::function<void(std::string_view)>;
void SetDebuggerOutputSink(TextSink sink);
void SetAssertionSink(TextSink sink);

// Where a line goes when no sink is installed: the backend's own outputs
// ("Assertion failed: expr (file:line)" for an assertion report).
void SystemDebuggerOutput(std::string_view text);
void SystemAssertionReport(std::string_view text);

}  // namespace platform

// A debug assertion that reports and goes on, as the runtime's report does.
#define SERVERAPP_ASSERT(expr)                                           \
  do {                                                                   \
    if (!(expr)) ::platform::ReportAssertion(#expr, __FILE__, __LINE__); \
  } while (0)
