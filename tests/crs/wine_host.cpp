#include "wine_host.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winsock2.h>
// After windows.h, which it needs.
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace wine_test {
namespace {

namespace fs = std::filesystem;

using DosFileNameFn = WCHAR*(CDECL*)(LPCSTR);

DosFileNameFn DosFileName() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return kernel != nullptr ? reinterpret_cast<DosFileNameFn>(reinterpret_cast<void*>(
                                 GetProcAddress(kernel, "wine_get_dos_file_name")))
                           : nullptr;
}

// The Windows name of a Linux path; empty when unknown.
fs::path ToDos(const std::string& unix_path) {
  DosFileNameFn convert = DosFileName();
  if (convert == nullptr) return {};
  WCHAR* name = convert(unix_path.c_str());
  if (name == nullptr) return {};
  fs::path path(name);
  HeapFree(GetProcessHeap(), 0, name);
  return path;
}

// Starts a Linux program of the build machine (Wine runs it natively).
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

}  // namespace

int FreePort() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return -1;
  int port = -1;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s != INVALID_SOCKET) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
      port = ntohs(address.sin_port);
    }
    closesocket(s);
  }
  WSACleanup();
  return port;
}

namespace {

// True while something accepts TCP connections on the loopback port.
bool Accepts(int port) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  bool accepted = false;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s != INVALID_SOCKET) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    accepted = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    closesocket(s);
  }
  WSACleanup();
  return accepted;
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

std::string HostDevHttpPath() {
  const char* path = std::getenv("SERVERAPP_HOST_DEVHTTP");
  if (path != nullptr && path[0] != '\0') return path;
  return SERVERAPP_HOST_DEVHTTP;
}

namespace {

// The Linux name of a Windows path; empty when unknown.
std::string ToUnix(const fs::path& dos_path) {
  using UnixFileNameFn = char* (*)(const WCHAR*);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto convert = kernel != nullptr ? reinterpret_cast<UnixFileNameFn>(reinterpret_cast<void*>(
                                         GetProcAddress(kernel, "wine_get_unix_file_name")))
                                   : nullptr;
  if (convert == nullptr) return {};
  char* name = convert(dos_path.wstring().c_str());
  if (name == nullptr) return {};
  std::string path(name);
  HeapFree(GetProcessHeap(), 0, name);
  return path;
}

}  // namespace

crs_test::StackwalkReading HostStackwalk(const fs::path& dump) {
  const std::string devhttp = HostDevHttpPath();
  const std::string tool = devhttp.substr(0, devhttp.rfind("/tools/devhttp/")) +
                           "/breakpad/bin/linux-x64/minidump_stackwalk";
  const std::string unix_dump = ToUnix(dump);
  const fs::path out = dump.parent_path() / "stackwalk.out";
  const fs::path done = dump.parent_path() / "stackwalk.rc";
  const std::string unix_out = ToUnix(out);
  const std::string unix_done = ToUnix(done);
  crs_test::StackwalkReading failed;
  if (!UnderWine() || devhttp.empty() || unix_dump.empty() || unix_out.empty()) {
    failed.text = "no minidump_stackwalk of the build machine to run";
    return failed;
  }
  std::error_code ec;
  fs::remove(done, ec);
  if (!StartHostCommand("/bin/sh -c \"'" + tool + "' -m '" + unix_dump + "' > '" + unix_out +
                        "' 2>&1; echo $? > '" + unix_done + "'\"")) {
    failed.text = "cannot start " + tool;
    return failed;
  }
  for (int i = 0; i < 1200 && ReadWhole(done).empty(); ++i) Sleep(50);
  const std::string rc = ReadWhole(done);
  failed = crs_test::ParseStackwalk(ReadWhole(out), rc.rfind("0", 0) == 0);
  if (rc.empty()) failed.text = tool + " did not end within 60 s\n" + failed.text;
  return failed;
}

SharedFolder::SharedFolder() {
  if (!UnderWine()) return;
  static std::atomic<int> counter{0};
  unix_ = "/tmp/serverapp-wine-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(GetTickCount64()) + "-" + std::to_string(counter++);
  fs::path dos = ToDos(unix_);
  std::error_code ec;
  if (dos.empty() || !fs::create_directories(dos, ec)) return;
  dos_ = dos;
}

SharedFolder::~SharedFolder() {
  std::error_code ec;
  if (!dos_.empty()) fs::remove_all(dos_, ec);
}

HostDevHttp::~HostDevHttp() {
  Stop();
}

bool HostDevHttp::Start(std::string* why) {
  const std::string devhttp = HostDevHttpPath();
  if (!UnderWine() || !folder_.valid()) {
    *why = "not under Wine: the development services run on the build machine";
    return false;
  }
  if (devhttp.empty()) {
    *why = "no devhttp of the build machine (set SERVERAPP_HOST_DEVHTTP)";
    return false;
  }
  port_ = FreePort();
  if (port_ <= 0) {
    *why = "no free port";
    return false;
  }
  const std::string& u = folder_.unix();
  // timeout: a test that dies without Stop() leaves no service behind for long.
  std::string command = "/bin/sh -c \"timeout 600 '" + devhttp + "' --host 127.0.0.1 --port " +
                        std::to_string(port_) + " --crs-root '" + u + "/crs' --content-root '" + u +
                        "/content' --log-requests 1 > '" + u + "/devhttp.out' 2>&1 & echo $! > '" +
                        u + "/devhttp.pid'\"";
  if (!StartHostCommand(command)) {
    *why = "cannot start " + devhttp;
    return false;
  }
  started_ = true;
  for (int i = 0; i < 200; ++i) {
    if (ReadWhole(OutputFile()).find("listening on") != std::string::npos) {
      return true;
    }
    Sleep(50);
  }
  *why = "devhttp did not start: " + ReadWhole(OutputFile());
  return false;
}

void HostDevHttp::Stop() {
  if (!started_) return;
  started_ = false;
  std::string pid = ReadWhole(folder_.dos() / "devhttp.pid");
  while (!pid.empty() && (pid.back() == '\n' || pid.back() == '\r')) pid.pop_back();
  if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) return;
  StartHostCommand("/bin/kill -TERM " + pid);
  // Stopped once nothing accepts connections on its port any more.
  for (int i = 0; i < 100 && Accepts(port_); ++i) Sleep(50);
}

std::string HostDevHttp::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int HostDevHttp::Control(const std::string& path_and_query) const {
  HINTERNET session = InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (session == nullptr) return 0;
  HINTERNET connection = InternetConnectA(session, "127.0.0.1", static_cast<INTERNET_PORT>(port_),
                                          nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET request =
      connection != nullptr
          ? HttpOpenRequestA(connection, "POST", path_and_query.c_str(), nullptr, nullptr, nullptr,
                             INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
          : nullptr;
  DWORD status = 0;
  if (request != nullptr) {
    static const char kHeaders[] = "Content-Type: text/plain\r\n";
    char body[1] = {0};
    if (HttpSendRequestA(request, kHeaders, static_cast<DWORD>(sizeof(kHeaders) - 1), body, 0)) {
      DWORD size = sizeof(status);
      HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                     nullptr);
    }
    InternetCloseHandle(request);
  }
  if (connection != nullptr) InternetCloseHandle(connection);
  InternetCloseHandle(session);
  return static_cast<int>(status);
}

RunResult RunProgram(const fs::path& program, const std::vector<std::string>& args,
                     const fs::path& cwd, const std::vector<std::string>& env,
                     const fs::path& output_file, unsigned long timeout_ms) {
  RunResult result;
  std::string line = Quote(program.string());
  for (const std::string& a : args) line += " " + Quote(a);

  // This process's environment with the extra variables replacing theirs.
  std::vector<std::string> variables;
  if (char* block = GetEnvironmentStringsA()) {
    for (const char* p = block; *p != '\0'; p += std::strlen(p) + 1) variables.emplace_back(p);
    FreeEnvironmentStringsA(block);
  }
  for (const std::string& e : env) {
    const std::string name = e.substr(0, e.find('=') + 1);
    variables.erase(std::remove_if(variables.begin(), variables.end(),
                                   [&](const std::string& v) {
                                     return _strnicmp(v.c_str(), name.c_str(), name.size()) == 0;
                                   }),
                    variables.end());
    variables.push_back(e);
  }
  std::string block;
  for (const std::string& v : variables) block += v + '\0';
  block += '\0';

  STARTUPINFOA si{};
  si.cb = sizeof(si);
  HANDLE output = INVALID_HANDLE_VALUE;
  if (!output_file.empty()) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    output = CreateFileW(output_file.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output != INVALID_HANDLE_VALUE) {
      si.dwFlags = STARTF_USESTDHANDLES;
      si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
      si.hStdOutput = output;
      si.hStdError = output;
    }
  }
  PROCESS_INFORMATION pi{};
  const std::string dir = cwd.string();
  result.started =
      CreateProcessA(nullptr, line.data(), nullptr, nullptr, output != INVALID_HANDLE_VALUE, 0,
                     block.data(), dir.c_str(), &si, &pi) != FALSE;
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  if (!result.started) return result;
  if (WaitForSingleObject(pi.hProcess, timeout_ms) != WAIT_OBJECT_0) {
    result.timed_out = true;
    TerminateProcess(pi.hProcess, 999);
    WaitForSingleObject(pi.hProcess, 5000);
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  result.exit_code = code;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return result;
}

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteWhole(const fs::path& path, const std::string& bytes) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<fs::path> FindFiles(const fs::path& folder, const std::string& part) {
  std::vector<fs::path> found;
  std::error_code ec;
  if (!fs::exists(folder, ec)) return found;
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file() && it->path().filename().string().find(part) != std::string::npos) {
      found.push_back(it->path());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace wine_test
