// Helpers of the crash tests of both systems: files, helper programs, how a
// fault ends them, and what the readers of a dump make of it.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/content_server.h"
#include "support/scratch.h"

// One value per system in a test body shared by both.
#ifdef _WIN32
#define BY_SYSTEM(posix, windows) windows
#else
#define BY_SYSTEM(posix, windows) posix
#endif

namespace crs_test {

// A fresh folder, removed with its content at the end of the scope.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

using testsupport::ReadFile;
void WriteWhole(const std::filesystem::path& path, const std::string& bytes);
// Every regular file below folder whose name contains part, sorted.
std::vector<std::filesystem::path> FindFiles(const std::filesystem::path& folder,
                                             const std::string& part);
// Polls done every 50 ms until it answers true (true) or timeout_ms passed.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms);

// How a helper process ended: its exit code, -signal (POSIX), or -1000
// when it outlived the wait and was killed.
struct ProcessResult {
  int code = -1000;
  std::string output;  // stdout and stderr together
};

// Runs program with arguments in folder cwd, with extra environment
// variables ("NAME=value") added to this process's environment.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& cwd, const std::vector<std::string>& env);

enum class Fault {
  kAccessViolation,  // a write through a null pointer
  kStackOverflow,    // unbounded recursion
  kAbort,            // std::abort
};
// The code a fault leaves: the signal on POSIX, the exception code on
// Windows. FaultExit: the ProcessResult::code (and hosttest::WaitExit
// answer) it leaves; ExceptionCodeLine: the stack text's line naming it.
uint32_t FaultCode(Fault fault);
int FaultExit(Fault fault);
std::string ExceptionCodeLine(Fault fault);

// The dump lies in <log_root>/<its day>/<instance>/ as
// "[2112]dmp_ServerApp_<host>_<day>-<time>.dmp" (host: a regular expression).
void ExpectDumpPlace(const std::filesystem::path& dump, const std::filesystem::path& log_root,
                     const std::string& host, const std::string& instance);
// Both parts reached the service (which stored them in store) with the
// version header: the stack text first, then the dump under its own name
// with its bytes. Answers the stack text.
std::string ExpectUploaded(const std::vector<testsupport::Upload>& uploads,
                           const std::filesystem::path& store, const std::filesystem::path& dump);

// The little-endian T at offset of bytes; 0 when it lies beyond the end.
template <typename T>
T ReadAt(const std::string& bytes, uint64_t offset) {
  T value{};
  if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}
// The bytes of the minidump stream of `type` in dump; empty when missing.
std::string MinidumpStream(const std::string& dump, uint32_t type);

// What the crash tests read from a minidump's own streams (the layout is
// the same from both systems' writers: AMD64 contexts).
struct MinidumpFacts {
  bool signature = false;  // "MDMP" and the format's version
  bool has_exception = false;
  uint32_t exception_code = 0;
  uint32_t exception_thread = 0;
  uint64_t exception_address = 0;
  // The exception's stack pointer lies in the stack the dump holds for the
  // thread the exception names: the exception belongs to that thread.
  bool exception_on_its_thread = false;
  std::vector<uint32_t> threads;  // the thread list's ids
  struct Module {
    std::string name;  // the file name, without its folder (ASCII)
    uint64_t base = 0;
    uint64_t end = 0;
  };
  std::vector<Module> modules;
  uint16_t architecture = 0xFFFF;  // 9: AMD64
  bool full_memory = false;        // a Memory64List stream
  // The module named `file` (in any case); nullptr when not listed.
  const Module* FindModule(const std::string& file) const;
  bool Lists(uint32_t thread) const;
};
MinidumpFacts ReadMinidump(const std::string& dump);

// What minidump_stackwalk -m printed for a dump.
struct StackwalkReading {
  bool ran = false;          // it ran to the end
  bool ok = false;           // ... and logged no error reading the file
  std::string crash_reason;  // "SIGSEGV /SEGV_MAPERR", "EXCEPTION_ACCESS_VIOLATION_WRITE"
  int crashed_thread = -1;
  // Per thread, its frames: "module!function", or "module" without symbols.
  std::vector<std::vector<std::string>> threads;
  // Module file name -> its debug identifier ("" when the dump has none).
  std::map<std::string, std::string> modules;
  std::string text;  // its whole output, for failure messages

  // The first thread with a frame that starts with `frame`; -1 when none.
  int ThreadWith(const std::string& frame) const;
  // True when the module list holds `module` with a debug identifier.
  bool Identifies(const std::string& module) const;
};
StackwalkReading ParseStackwalk(const std::string& output, bool ran_ok);

// minidump_stackwalk of the build machine on dump. POSIX: with the symbols
// dump_syms makes of binaries and of the C, C++ and sanitizer runtimes, in
// "symbols" beside the first binary (a failure when they cannot be made);
// the Windows dumps are read without symbols.
StackwalkReading Stackwalk(const std::filesystem::path& dump,
                           const std::vector<std::filesystem::path>& binaries);

// Expects the readers to read `dump` of crs_crash_target `program`: the
// fault, the faulting function on the crashed thread, and every thread (the
// parked one among them) when all_threads, else the faulting one alone.
// POSIX: LLDB and minidump_stackwalk with symbols. Windows: Wine's dumps
// name no function a Linux reader could resolve (the program's debug
// information is DWARF in a PE file): the exception, its thread and the
// program's image are checked instead.
void ExpectReadable(const std::filesystem::path& program, const std::filesystem::path& dump,
                    Fault fault, const std::string& function, bool all_threads);

#ifdef _WIN32
// Wine runs Linux programs of the build machine through CreateProcess: the
// Windows tests start devhttp and Breakpad's tools that way.
std::string ToUnix(const std::filesystem::path& dos_path);
bool StartHostCommand(const std::string& command_line);
// The build machine's devhttp (environment SERVERAPP_HOST_DEVHTTP, else the
// one CMake found); empty when none is known.
std::string HostDevHttpPath();
#else
// LLDB's "thread list" and "thread backtrace all" of dump with program.
std::string Lldb(const std::filesystem::path& program, const std::filesystem::path& dump);
size_t LldbThreadCount(const std::string& lldb_output);
#endif

}  // namespace crs_test
