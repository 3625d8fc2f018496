// Helpers of the crash tests of both systems: files, helper programs, how a
// fault ends them, and what the readers of a dump make of it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
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
// Polls done every 50 ms; false when timeout_ms passed first.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms);

// A helper process's exit code, -signal (POSIX), or -1000 when it outlived
// the wait.
struct ProcessResult {
  int code = -1000;
  std::string output;  // stdout and stderr together
};

// Runs program in cwd with this process's environment plus env.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& cwd,
                         std::vector<std::pair<std::string, std::string>> env = {});

enum class Fault {
  kAccessViolation,  // a write through a null pointer
  kStackOverflow,    // unbounded recursion
  kAbort,            // std::abort
};
// The signal (POSIX) or exception code (Windows) of a fault; the exit code
// ProcessResult and hosttest::WaitExit give; the stack text's line.
uint32_t FaultCode(Fault fault);
int FaultExit(Fault fault);
std::string ExceptionCodeLine(Fault fault);

// The dump lies in <log_root>/<its day>/<instance>/ as
// "[2112]dmp_ServerApp_<host>_<day>-<time>.dmp" (host: a regular expression).
void ExpectDumpPlace(const std::filesystem::path& dump, const std::filesystem::path& log_root,
                     const std::string& host, const std::string& instance);
// Both parts reached the service with the version header, the stack text
// first, then the dump under its name and whole, and the host log says so.
// Answers the stack text.
inline std::string ExpectUploaded(const testsupport::ContentServer& service,
                                  const std::filesystem::path& dump, const std::string& host_log) {
  EXPECT_NE(std::string::npos,
            host_log.find("[INFO_] CRS Upload Succeeded: " + service.CrashUrl() + " \r\r\n"))
      << host_log;
  const std::vector<testsupport::Upload> uploads = service.Uploads();
  const std::filesystem::path store = service.CrashStore();
  EXPECT_EQ(2u, uploads.size());
  if (uploads.size() != 2) return {};
  EXPECT_TRUE(std::regex_match(uploads[0].name,
                               std::regex("ServerApp_.+_[0-9]{8}-[0-9]{9}_[0-9]+_crs\\.log")))
      << uploads[0].name;
  const std::string text = ReadFile(store / uploads[0].name);
  EXPECT_EQ(0u, text.find("# Exception Infomation\r\n")) << text;
  EXPECT_EQ(dump.filename().string(), uploads[1].name);
  EXPECT_EQ(std::filesystem::file_size(dump), uploads[1].size);
  EXPECT_TRUE(ReadFile(dump) == ReadFile(store / uploads[1].name));
  EXPECT_EQ("2112", uploads[0].version);
  EXPECT_EQ("2112", uploads[1].version);
  return text;
}

// The little-endian T at offset of bytes; 0 when it lies beyond the end.
template <typename T>
T ReadAt(const std::string& bytes, uint64_t offset) {
  T value{};
  if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}
// The bytes of the minidump stream of `type` in dump; empty when missing.
std::string MinidumpStream(const std::string& dump, uint32_t type);

// What the crash tests read from a minidump's own streams (AMD64, both
// systems' writers).
struct MinidumpFacts {
  bool signature = false;  // "MDMP" and the format's version
  bool has_exception = false;
  uint32_t exception_code = 0;
  uint32_t exception_thread = 0;
  uint64_t exception_address = 0;
  // The exception's stack pointer lies in the stack dumped for its thread.
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

  int ThreadWith(const std::string& frame) const;  // -1 when none
  bool Identifies(const std::string& module) const;
};
StackwalkReading ParseStackwalk(const std::string& output, bool ran_ok);

// The build machine's minidump_stackwalk on dump. POSIX: with dump_syms'
// symbols of binaries and of the C, C++ and sanitizer runtimes (a failure
// when they cannot be made); Windows: without symbols.
StackwalkReading Stackwalk(const std::filesystem::path& dump,
                           const std::vector<std::filesystem::path>& binaries);

// Expects the readers to read `dump` of crs_crash_target `program`: the
// fault, `function` on the crashed thread, every thread (the parked one
// among them) when all_threads, else the faulting one alone. Windows: no
// Linux reader resolves DWARF in a PE file, so the exception, its thread and
// the program's image instead. Answers minidump_stackwalk's reading.
StackwalkReading ExpectReadable(const std::filesystem::path& program,
                                const std::filesystem::path& dump, Fault fault,
                                const std::string& function, bool all_threads);

// The crash tests through a real host (tests/crashwire).
inline constexpr char kHostFile[] = BY_SYSTEM("ServerApp", "ServerApp.exe");
inline constexpr char kModuleFile[] = BY_SYSTEM("server_d_x64.so", "server_d_x64.dll");
// Faults the running process `pid` from outside, as an access violation
// (POSIX: SIGSEGV; Windows: a thread of its own started at address 0).
// False when it could not be sent.
bool FaultFromOutside(uint32_t pid);
// The host's window thread, taken while the host runs (its window is gone
// after a crash): the thread id on Windows; 0 on POSIX, where the dump's
// frames tell the threads apart.
uint32_t WindowThreadOf(uint64_t window);
enum class FaultThread {
  kWindowThread,  // POSIX: called from the console
  kOtherThread,   // POSIX: the update loop's
};
// Expects the system's readers to read `dump` of the host `program`: the
// access violation in the module's code on `thread`, the other thread where
// it waits, every thread, and the build ids (which symbol stores match
// builds by) of the host and the module.
void ExpectHostDumpReadable(const std::filesystem::path& program, const std::filesystem::path& dump,
                            uint32_t window_thread, FaultThread thread);

#ifdef _WIN32
// Wine runs the build machine's Linux programs (devhttp, Breakpad's tools)
// through CreateProcess.
std::string ToUnix(const std::filesystem::path& dos_path);
bool StartHostCommand(const std::string& command_line);
// The build machine's devhttp (environment SERVERAPP_HOST_DEVHTTP, else the
// one CMake found); empty when none is known.
std::string HostDevHttpPath();
#endif

}  // namespace crs_test
