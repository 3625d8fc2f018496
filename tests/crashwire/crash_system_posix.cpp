// Crashes on POSIX: signals, /etc/CRS.ini, and LLDB reading the core-style
// dump with the host's executable.
#include <signal.h>
#include <sys/types.h>

#include "crash_system.h"
#include "crs_test_support.h"
#include "support/sanitizer_build.h"

namespace crashwire {

int FaultExit(Fault fault) {
  return fault == Fault::kAbort ? -SIGABRT : -SIGSEGV;
}

std::string ExceptionCodeLine(Fault fault) {
  return fault == Fault::kAbort ? "# ExceptionCode=0x6" : "# ExceptionCode=0xB";
}

bool FaultFromOutside(uint32_t pid) {
  return kill(static_cast<pid_t>(pid), SIGSEGV) == 0;
}

std::filesystem::path SystemCrsIni() {
  return "/etc/CRS.ini";
}

std::string HostFileName() {
  return "ServerApp";
}

std::string ModuleFileName() {
  return "server_d_x64.so";
}

std::string FullDumpUnsupported() {
  // ThreadSanitizer's shadow memory makes a full-memory dump take longer
  // than the exit deadline.
  return testsupport::kThreadSanitizer
             ? "full-memory dumps of a ThreadSanitizer process are too large"
             : "";
}

uint32_t WindowThreadOf(uint64_t) {
  return 0;
}

DumpReading ReadDump(const std::filesystem::path& program, const std::filesystem::path& dump,
                     uint32_t) {
  // Libraries are found by the paths the dump records.
  auto result = crs_test::RunProcess(
      "/usr/bin/lldb",
      {"--no-lldbinit", "--batch", "-o",
       "target create \"" + program.string() + "\" --core \"" + dump.string() + "\"", "-o",
       "thread backtrace"},
      dump.parent_path(), {});
  DumpReading reading;
  reading.text = result.output;
  const std::string& lldb = reading.text;
  reading.read = lldb.find("SIGSEGV") != std::string::npos;
  // Frame 0 is in the module's crash command (the null write itself may be
  // inlined into it).
  const size_t frame0 = lldb.find("frame #0:");
  if (frame0 != std::string::npos) {
    const std::string top = lldb.substr(frame0, lldb.find('\n', frame0) - frame0);
    reading.fault_in_module = top.find("server_d_x64.so`") != std::string::npos &&
                              top.find("servercrash.cpp") != std::string::npos;
  }
  // The console runs its lines on the window thread; the update thread's
  // frames lead back to the host's update loop instead.
  if (lldb.find("RunConsoleString") != std::string::npos) {
    reading.thread = FaultThread::kWindowThread;
  } else if (lldb.find("ThreadUpdate") != std::string::npos) {
    reading.thread = FaultThread::kOtherThread;
  }
  return reading;
}

}  // namespace crashwire
