// The crash tests' helpers on Windows, run under Wine: the build machine's
// Linux programs, the native build's minidump_stackwalk among them.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "crs_test_support.h"
#include "support/scratch.h"

namespace crs_test {

namespace fs = std::filesystem;

std::string ToUnix(const fs::path& dos_path) {
  using Convert = char* (*)(const WCHAR*);
  const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  char* name = convert != nullptr ? convert(dos_path.wstring().c_str()) : nullptr;
  if (name == nullptr) return {};
  std::string path(name);
  HeapFree(GetProcessHeap(), 0, name);
  return path;
}

bool StartHostCommand(const std::string& command_line) {
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::string line = command_line;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    return false;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

std::string HostDevHttpPath() {
  const char* path = std::getenv("SERVERAPP_HOST_DEVHTTP");
  return path != nullptr && path[0] != '\0' ? path : SERVERAPP_HOST_DEVHTTP;
}

StackwalkReading Stackwalk(const fs::path& dump, const std::vector<fs::path>&) {
  const std::string devhttp = HostDevHttpPath();
  const std::string tool = devhttp.substr(0, devhttp.rfind("/tools/devhttp/")) +
                           "/breakpad/bin/linux-x64/minidump_stackwalk";
  const fs::path out = dump.parent_path() / "stackwalk.out";
  const fs::path done = dump.parent_path() / "stackwalk.rc";
  StackwalkReading failed;
  failed.text = "cannot start " + tool;
  std::error_code ec;
  fs::remove(done, ec);
  if (!testsupport::UnderWine() || devhttp.empty() ||
      !StartHostCommand("/bin/sh -c \"'" + tool + "' -m '" + ToUnix(dump) + "' > '" + ToUnix(out) +
                        "' 2>&1; echo $? > '" + ToUnix(done) + "'\"")) {
    return failed;
  }
  WaitUntil([&] { return !ReadFile(done).empty(); }, 60000);
  const std::string rc = ReadFile(done);
  StackwalkReading reading = ParseStackwalk(ReadFile(out), rc.rfind("0", 0) == 0);
  if (rc.empty()) reading.text = tool + " did not end within 60 s\n" + reading.text;
  return reading;
}

StackwalkReading ExpectReadable(const std::filesystem::path& program,
                                const std::filesystem::path& dump, Fault fault, const std::string&,
                                bool all_threads) {
  const MinidumpFacts facts = ReadMinidump(ReadFile(dump));
  EXPECT_TRUE(facts.signature);
  EXPECT_EQ(FaultCode(fault), facts.exception_code);
  // The exception belongs to the thread that faulted, not to the one that
  // wrote the dump (a fresh thread after a stack overflow).
  EXPECT_TRUE(facts.Lists(facts.exception_thread));
  EXPECT_TRUE(facts.exception_on_its_thread);
  EXPECT_NE(nullptr, facts.FindModule(program.filename().string()));
  EXPECT_EQ(9, facts.architecture);  // AMD64
  EXPECT_LE(all_threads ? 2u : 1u, facts.threads.size());
  // Breakpad's reader sees the same exception and threads.
  const StackwalkReading walk = Stackwalk(dump, {program});
  EXPECT_TRUE(walk.ran) << walk.text;
  const char* reason = fault == Fault::kAbort           ? "0x40000015"
                       : fault == Fault::kStackOverflow ? "EXCEPTION_STACK_OVERFLOW"
                                                        : "EXCEPTION_ACCESS_VIOLATION";
  EXPECT_EQ(0u, walk.crash_reason.find(reason)) << walk.text;
  EXPECT_EQ(facts.threads.size(), walk.threads.size()) << walk.text;
  return walk;
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

uint32_t WindowThreadOf(uint64_t window) {
  return GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<uintptr_t>(window)), nullptr);
}

void ExpectHostDumpReadable(const std::filesystem::path& program, const std::filesystem::path& dump,
                            uint32_t window_thread, FaultThread thread) {
  // The fault on its thread, the host's image, every thread, Breakpad's
  // reading (which reports Wine's overlapping memory ranges: two threads'
  // code windows), and the build ids of both images.
  const StackwalkReading walk = ExpectReadable(program, dump, Fault::kAccessViolation, "", true);
  EXPECT_TRUE(walk.Identifies(kHostFile) && walk.Identifies(kModuleFile)) << walk.text;
  const MinidumpFacts facts = ReadMinidump(ReadFile(dump));
  const auto* module = facts.FindModule(kModuleFile);
  ASSERT_NE(nullptr, module);
  EXPECT_LE(module->base, facts.exception_address);
  EXPECT_LT(facts.exception_address, module->end);
  ASSERT_NE(0u, window_thread);
  EXPECT_EQ(thread == FaultThread::kWindowThread, facts.exception_thread == window_thread);
  EXPECT_TRUE(facts.Lists(window_thread));
}

}  // namespace crs_test
