// The crash tests' helpers on Windows, run under Wine: folders in the build
// machine's /tmp (so that its Linux tools see them), CreateProcess with a
// time-out, exception codes, and Breakpad's minidump_stackwalk of the build
// machine (the one the native crash tests fetched beside devhttp,
// scripts/breakpad-tools.sh).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "crs_test_support.h"

namespace crs_test {

namespace fs = std::filesystem;

namespace {

template <typename Fn>
Fn Kernel32(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return kernel != nullptr
             ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, name)))
             : nullptr;
}

// The Windows name of a Linux path; empty when unknown.
fs::path ToDos(const std::string& unix_path) {
  auto convert = Kernel32<WCHAR*(CDECL*)(LPCSTR)>("wine_get_dos_file_name");
  WCHAR* name = convert != nullptr ? convert(unix_path.c_str()) : nullptr;
  if (name == nullptr) return {};
  fs::path path(name);
  HeapFree(GetProcessHeap(), 0, name);
  return path;
}

std::string Quote(const std::string& arg) {
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string ToUnix(const fs::path& dos_path) {
  auto convert = Kernel32<char* (*)(const WCHAR*)>("wine_get_unix_file_name");
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

TempFolder::TempFolder() {
  static std::atomic<int> counter{0};
  const std::string name = "serverapp-wine-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(GetTickCount64()) + "-" + std::to_string(counter++);
  path_ = UnderWine() ? ToDos("/tmp/" + name) : fs::temp_directory_path() / name;
  fs::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const fs::path& cwd, const std::vector<std::string>& env) {
  ProcessResult result;
  std::string line = Quote(program);
  for (const std::string& a : args) line += " " + Quote(a);

  // The program inherits this process's environment with the extras.
  for (const std::string& e : env) {
    SetEnvironmentVariableA(e.substr(0, e.find('=')).c_str(), e.substr(e.find('=') + 1).c_str());
  }
  // Output to a file of cwd (a pipe would need a reader thread).
  const fs::path output_file = cwd / "output.txt";
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE output = CreateFileW(output_file.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                              &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = output;
  si.hStdError = output;
  PROCESS_INFORMATION pi{};
  const std::string dir = cwd.string();
  const bool started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      dir.c_str(), &si, &pi) != FALSE;
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  if (!started) return result;
  if (WaitForSingleObject(pi.hProcess, 90000) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    result.code = static_cast<int>(code);
  } else {
    TerminateProcess(pi.hProcess, 999);
    WaitForSingleObject(pi.hProcess, 5000);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  result.output = ReadWhole(output_file);
  return result;
}

uint32_t FaultCode(Fault fault) {
  switch (fault) {
    case Fault::kStackOverflow:
      return 0xC00000FD;
    case Fault::kAbort:
      return 0x40000015;  // what abort() raises once the C runtime's own handling is off
    default:
      return 0xC0000005;
  }
}

int FaultExit(Fault fault) {
  return static_cast<int>(FaultCode(fault));
}

StackwalkReading Stackwalk(const fs::path& dump, const fs::path&) {
  const std::string devhttp = HostDevHttpPath();
  const std::string tool = devhttp.substr(0, devhttp.rfind("/tools/devhttp/")) +
                           "/breakpad/bin/linux-x64/minidump_stackwalk";
  const fs::path out = dump.parent_path() / "stackwalk.out";
  const fs::path done = dump.parent_path() / "stackwalk.rc";
  StackwalkReading failed;
  failed.text = "cannot start " + tool;
  std::error_code ec;
  fs::remove(done, ec);
  if (!UnderWine() || devhttp.empty() ||
      !StartHostCommand("/bin/sh -c \"'" + tool + "' -m '" + ToUnix(dump) + "' > '" + ToUnix(out) +
                        "' 2>&1; echo $? > '" + ToUnix(done) + "'\"")) {
    return failed;
  }
  for (int i = 0; i < 1200 && ReadWhole(done).empty(); ++i) Sleep(50);
  const std::string rc = ReadWhole(done);
  StackwalkReading reading = ParseStackwalk(ReadWhole(out), rc.rfind("0", 0) == 0);
  if (rc.empty()) reading.text = tool + " did not end within 60 s\n" + reading.text;
  return reading;
}

}  // namespace crs_test
