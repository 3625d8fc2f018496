// Crashes on Windows: exception codes, a faulting thread started in the
// host from outside, the Windows folder's CRS.ini, and the minidump read
// with its own streams (LLDB, a Linux program, cannot read a MinGW
// program's debug information from a Windows minidump).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <dbghelp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "crash_system.h"
#include "wine_host.h"

namespace crashwire {

namespace {

constexpr DWORD kAccessViolation = 0xC0000005;
constexpr DWORD kStackOverflow = 0xC00000FD;
// What abort() raises once the C runtime's own handling is off.
constexpr DWORD kFatalAppExit = 0x40000015;

DWORD Code(Fault fault) {
  switch (fault) {
    case Fault::kAccessViolation:
      return kAccessViolation;
    case Fault::kStackOverflow:
      return kStackOverflow;
    case Fault::kAbort:
      return kFatalAppExit;
  }
  return 0;
}

template <typename T>
bool ReadAt(const std::string& dump, uint64_t offset, T* out) {
  if (offset > dump.size() || sizeof(T) > dump.size() - offset) return false;
  std::memcpy(out, dump.data() + offset, sizeof(T));
  return true;
}

// The UTF-16 name a module entry points at, in ASCII (other characters as
// '?'); empty when it lies outside the dump.
std::string ModuleName(const std::string& dump, RVA rva) {
  uint32_t bytes = 0;
  if (!ReadAt(dump, rva, &bytes) || bytes / 2 > (dump.size() - rva - 4) / 2) return {};
  std::string name;
  for (uint32_t i = 0; i < bytes / 2; ++i) {
    uint16_t c = 0;
    std::memcpy(&c, dump.data() + rva + 4 + i * 2, 2);
    name += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return name;
}

std::string FileNameOf(const std::string& windows_path) {
  const size_t slash = windows_path.find_last_of("\\/");
  return slash == std::string::npos ? windows_path : windows_path.substr(slash + 1);
}

bool SameNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && _stricmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace

int FaultExit(Fault fault) {
  return static_cast<int>(Code(fault));
}

std::string ExceptionCodeLine(Fault fault) {
  char line[40];
  std::snprintf(line, sizeof(line), "# ExceptionCode=0x%lX",
                static_cast<unsigned long>(Code(fault)));
  return line;
}

bool FaultFromOutside(uint32_t pid) {
  HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                                   PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE,
                               FALSE, pid);
  if (process == nullptr) return false;
  // A thread that starts at address 0 faults at its first instruction; the
  // system hands the access violation to the process's unhandled-exception
  // filter as for any fault of its own.
  LPTHREAD_START_ROUTINE nowhere = nullptr;
  HANDLE thread = CreateRemoteThread(process, nullptr, 0, nowhere, nullptr, 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
  CloseHandle(process);
  return thread != nullptr;
}

std::filesystem::path SystemCrsIni() {
  char folder[MAX_PATH] = {};
  const UINT n = GetWindowsDirectoryA(folder, sizeof(folder));
  return std::filesystem::path(std::string(folder, n < sizeof(folder) ? n : 0)) / "CRS.ini";
}

std::string HostFileName() {
  return "ServerApp.exe";
}

std::string ModuleFileName() {
  return "server_d_x64.dll";
}

std::string FullDumpUnsupported() {
  return wine_test::UnderWine()
             ? "a full-memory dump of a Wine process is hundreds of megabytes and takes longer "
               "than the tests wait (docs/windows.md)"
             : "";
}

uint32_t WindowThreadOf(uint64_t window) {
  return GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<uintptr_t>(window)), nullptr);
}

DumpReading ReadDump(const std::filesystem::path& program, const std::filesystem::path& dump_path,
                     uint32_t window_thread) {
  DumpReading reading;
  std::ifstream in(dump_path, std::ios::binary);
  const std::string dump{std::istreambuf_iterator<char>(in), {}};
  std::ostringstream text;

  MINIDUMP_HEADER header{};
  if (!ReadAt(dump, 0, &header) || header.Signature != 0x504D444Du) {  // "MDMP"
    reading.text = "not a minidump: " + dump_path.string();
    return reading;
  }
  bool lists_program = false;
  uint64_t module_base = 0, module_end = 0;
  MINIDUMP_EXCEPTION_STREAM exception{};
  bool has_exception = false;
  std::vector<uint32_t> thread_ids;
  for (uint32_t i = 0; i < header.NumberOfStreams; ++i) {
    MINIDUMP_DIRECTORY entry{};
    if (!ReadAt(dump, header.StreamDirectoryRva + i * uint64_t{sizeof(entry)}, &entry)) break;
    const uint64_t rva = entry.Location.Rva;
    if (entry.StreamType == ExceptionStream) {
      has_exception = ReadAt(dump, rva, &exception);
    } else if (entry.StreamType == ThreadListStream) {
      uint32_t count = 0;
      ReadAt(dump, rva, &count);
      for (uint32_t t = 0; t < count; ++t) {
        MINIDUMP_THREAD thread{};
        if (!ReadAt(dump, rva + 4 + t * uint64_t{sizeof(thread)}, &thread)) break;
        thread_ids.push_back(thread.ThreadId);
      }
    } else if (entry.StreamType == ModuleListStream) {
      uint32_t count = 0;
      ReadAt(dump, rva, &count);
      for (uint32_t m = 0; m < count; ++m) {
        MINIDUMP_MODULE module{};
        if (!ReadAt(dump, rva + 4 + m * uint64_t{sizeof(module)}, &module)) break;
        const std::string name = FileNameOf(ModuleName(dump, module.ModuleNameRva));
        text << "module " << name << " at 0x" << std::hex << module.BaseOfImage << std::dec
             << " size " << module.SizeOfImage << "\n";
        if (SameNoCase(name, program.filename().string())) lists_program = true;
        if (SameNoCase(name, ModuleFileName())) {
          module_base = module.BaseOfImage;
          module_end = module.BaseOfImage + module.SizeOfImage;
        }
      }
    }
  }
  const uint64_t address = exception.ExceptionRecord.ExceptionAddress;
  text << "exception 0x" << std::hex << exception.ExceptionRecord.ExceptionCode << " at 0x"
       << address << std::dec << " on thread " << exception.ThreadId << " (window thread "
       << window_thread << ")\n";
  reading.text = text.str();
  reading.read =
      has_exception && lists_program && exception.ExceptionRecord.ExceptionCode == kAccessViolation;
  reading.fault_in_module = module_base != 0 && module_base <= address && address < module_end;
  if (has_exception && window_thread != 0) {
    reading.thread = exception.ThreadId == window_thread ? FaultThread::kWindowThread
                                                         : FaultThread::kOtherThread;
  }
  reading.threads = thread_ids.size();
  // The window thread when another faulted; else any thread but the faulting one.
  const auto listed = [&](uint32_t id) {
    return std::find(thread_ids.begin(), thread_ids.end(), id) != thread_ids.end();
  };
  reading.other_thread_seen =
      has_exception && listed(exception.ThreadId) &&
      (reading.thread == FaultThread::kOtherThread ? listed(window_thread)
                                                   : thread_ids.size() >= 2);
  text << thread_ids.size() << " threads\n";
  // Breakpad's reader sees the same: the access violation, every thread,
  // and both images with the build ids their CodeView records carry. Wine's
  // MiniDumpWriteDump writes overlapping memory ranges (two threads' code
  // windows), which the reader reports and drops: not ours to fix.
  crs_test::StackwalkReading walk = wine_test::HostStackwalk(dump_path);
  reading.read =
      reading.read && walk.ran && walk.crash_reason.rfind("EXCEPTION_ACCESS_VIOLATION", 0) == 0;
  if (walk.threads.size() != thread_ids.size()) reading.threads = 0;
  reading.names_build =
      walk.ran && walk.Identifies(HostFileName()) && walk.Identifies(ModuleFileName());
  text << walk.text;
  reading.text = text.str();
  return reading;
}

}  // namespace crashwire
