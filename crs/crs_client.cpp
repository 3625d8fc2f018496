#include "crs/crs_client.h"

#include <cstdarg>
#include <cstring>
#include <utility>

#include "crs/safe_format.h"
#include "platform/crash_io.h"
#include "platform/identity.h"
#include "platform/settings.h"

namespace crs {
namespace {

constexpr size_t kLineSize = 1024;
constexpr size_t kFileChunk = 4092;
constexpr int kMaxFrames = 10;

// Everything after the last folder separator ('/' or '\').
const char* FileNameOf(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return name;
}

// The "URL" value of section "CRS" in the file, or empty.
std::string ReadUrl(const std::string& ini) {
  char value[1024] = {};
  platform::GetPrivateProfileString("CRS", "URL", "", value, sizeof(value), ini.c_str());
  return value;
}

}  // namespace

ClientEnvironment ClientEnvironment::FromSystem() {
  ClientEnvironment e;
  e.executable_path = platform::ExecutablePath();
  e.computer_name = platform::ComputerName();
  e.system_config_folder = platform::SystemSettingsFolder();
  e.process_id = platform::CurrentProcessId();
  return e;
}

Client& Client::Instance() {
  static Client client(ClientEnvironment::FromSystem());
  return client;
}

Client::Client(ClientEnvironment environment) : environment_(std::move(environment)) {}

void Client::SetError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VFormatTo(last_error_, sizeof(last_error_), format, args);
  va_end(args);
}

bool Client::Init(const char* output_folder, const char* instance_folder) {
  (void)instance_folder;  // named by the interface, used by no operation
  process_id_ = environment_.process_id;

  // The executable's own CRS.ini wins when it names a URL.
  std::string exe = environment_.executable_path;
  // Windows paths separate folders with '\\', POSIX ones with '/'.
  const size_t slash = exe.find_last_of("/\\");
  std::string folder = exe.substr(0, slash == std::string::npos ? 0 : slash);
  std::string url = ReadUrl(folder + "/CRS.ini");
  if (url.empty()) url = ReadUrl(environment_.system_config_folder + "/CRS.ini");
  if (url.empty()) {
    SetError("empty url");
    return false;
  }
  if (output_folder == nullptr || output_folder[0] == '\0') {
    SetError("output_dir is empty URL=%s", url_.url);
    return false;
  }
  uint32_t error = CrackUrl(url.c_str(), &url_);
  if (error != 0) {
    SetError("invalid url[%lu] URL=%s", static_cast<unsigned long>(error), url_.url);
    return false;
  }

  // The address is looked up now: name lookup is not safe in a dying process.
  std::string host = url_.host;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  resolve_error_ = platform::HttpResolve(host.c_str(), url_.port, &endpoint_);
  if (url_.port == 80) {
    CopyTo(host_header_, sizeof(host_header_), url_.host);
  } else {
    FormatTo(host_header_, sizeof(host_header_), "%s:%u", url_.host,
             static_cast<unsigned>(url_.port));
  }

  // The prefix names the program and the machine. A name the 16-character
  // buffer of the system call cannot hold counts as unreadable.
  const std::string& computer = environment_.computer_name;
  const char* machine = computer.empty() || computer.size() > 15 ? "unknwon" : computer.c_str();
  std::string base = exe.substr(slash == std::string::npos ? 0 : slash + 1);
  size_t dot = base.find_last_of('.');
  if (dot != std::string::npos) base.resize(dot);
  FormatTo(name_prefix_, sizeof(name_prefix_), "%s_%s", base.c_str(), machine);

  version_header_[0] = '\0';
  if (environment_.build_number > 0) {
    FormatTo(version_header_, sizeof(version_header_), "version:%d", environment_.build_number);
  }
  return true;
}

void Client::AppendLine(char* text, const char* format, ...) const {
  if (IsDisabled()) return;
  char line[kLineSize];
  va_list args;
  va_start(args, format);
  VFormatTo(line, sizeof(line), format, args);
  va_end(args);
  size_t used = AppendTo(text, kExceptionTextSize, "%s", line);
  // The line end goes only where it fits whole, with the terminator.
  if (used + 2 + 1 <= kExceptionTextSize) AppendTo(text, kExceptionTextSize, "\r\n");
}

void Client::BuildExceptionText(const platform::CrashInfo* info, char* text) const {
  if (info == nullptr) {
    AppendLine(text, "# Exception Infomation : EXCEPTION_POINTERS is NULL");
    return;
  }
  AppendLine(text, "# Exception Infomation");
  AppendLine(text, "# DATESTAMP=%s %s", __DATE__, __TIME__);
  AppendLine(text, "# Address=0x%016llX", static_cast<unsigned long long>(info->pc));
  AppendLine(text, "# ExceptionCode=0x%X", info->code);

  const uint32_t symbol_error = platform::StartCrashSymbols();
  if (symbol_error != 0) {
    AppendLine(text, "# SymInitialize FAIL[%lu]", static_cast<unsigned long>(symbol_error));
    platform::StopCrashSymbols();
    return;
  }
  platform::CrashFrame frames[kMaxFrames];
  size_t count = platform::WalkCrashStack(info, frames, kMaxFrames);
  platform::StopCrashSymbols();
  for (size_t i = 0; i < count; ++i) {
    // The walk itself ends after the frame whose frame address is 0.
    const platform::CrashFrame& f = frames[i];
    char module[260] = {};
    if (f.module_base != 0 && f.module_base < f.pc) {
      FormatTo(module, sizeof(module), "%s+0x%llX", f.module[0] != '\0' ? f.module : "unknown",
               static_cast<unsigned long long>(f.pc - f.module_base));
    }
    AppendLine(text, "%2d 0x%08X 0x%08X 0x%08X (%s)", static_cast<int>(i),
               static_cast<unsigned>(f.pc & 0xFFFFFFFFu), static_cast<unsigned>(f.sp & 0xFFFFFFFFu),
               static_cast<unsigned>(f.fp & 0xFFFFFFFFu), module);
  }
}

void Client::RequestPath(const char* remote_name, char* out, size_t size) const {
  size_t n = TextLength(url_.path);
  if (n > 0 && url_.path[n - 1] == '/') {
    FormatTo(out, size, "%s%s", url_.path, remote_name);
  } else {
    FormatTo(out, size, "%s/%s", url_.path, remote_name);
  }
}

bool Client::CheckResponse(platform::HttpPut& request, const char* label) {
  uint32_t error = request.ReceiveResponse();
  if (error != 0) {
    SetError("%s WinHttpReceiveResponse[%lu] URL=%s", label, static_cast<unsigned long>(error),
             url_.url);
    return false;
  }
  uint32_t status = 0;
  error = request.QueryStatus(&status);
  if (error != 0) {
    SetError("%s WinHttpQueryHeaders[%lu] URL=%s", label, static_cast<unsigned long>(error),
             url_.url);
    return false;
  }
  if (status != 200) {
    SetError("%s HTTP[%lu] URL=%s", label, static_cast<unsigned long>(status), url_.url);
    return false;
  }
  return true;
}

bool Client::OpenRequest(platform::HttpSession& session, platform::HttpPut& request,
                         const char* remote_name, const char* label) {
  char path[260];
  RequestPath(remote_name, path, sizeof(path));
  const uint32_t error = request.Open(session, path);
  if (error != 0) {
    SetError("%s WinHttpOpenRequest[%lu] URL=%s", label, static_cast<unsigned long>(error),
             url_.url);
    return false;
  }
  return true;
}

bool Client::PutText(platform::HttpSession& session, const char* text, const char* remote_name) {
  platform::HttpPut request;
  if (!OpenRequest(session, request, remote_name, "LOG")) return false;
  size_t size = TextLength(text);
  uint32_t error = request.Send(version_header_, size);
  if (error != 0) {
    SetError("LOG WinHttpSendRequest[%lu] URL=%s", static_cast<unsigned long>(error), url_.url);
    return false;
  }
  error = request.Write(text, size);
  if (error != 0) {
    SetError("LOG WinHttpWriteData[%lu] URL=%s", static_cast<unsigned long>(error), url_.url);
    return false;
  }
  return CheckResponse(request, "LOG");
}

bool Client::PutFile(platform::HttpSession& session, const char* dump_path,
                     const char* remote_name) {
  platform::HttpPut request;
  if (!OpenRequest(session, request, remote_name, "DMP")) return false;
  intptr_t file = platform::CrashFileOpenRead(dump_path);
  if (file == platform::kNoCrashFile) {
    SetError("DMP CreateFile READ[%lu] URL=%s",
             static_cast<unsigned long>(platform::CrashLastError()), url_.url);
    return false;
  }
  int64_t size = platform::CrashFileSize(file);
  if (size < 0) {
    SetError("DMP GetFileSize[%lu] URL=%s", static_cast<unsigned long>(platform::CrashLastError()),
             url_.url);
    platform::CrashFileClose(file);
    return false;
  }
  uint32_t error = request.Send(version_header_, static_cast<uint64_t>(size));
  if (error != 0) {
    SetError("DMP WinHttpSendRequest[%lu] URL=%s", static_cast<unsigned long>(error), url_.url);
    platform::CrashFileClose(file);
    return false;
  }
  char chunk[kFileChunk];
  for (;;) {
    int64_t n = platform::CrashFileRead(file, chunk, sizeof(chunk));
    if (n < 0) {
      SetError("DMP ReadFile[%lu] URL=%s", static_cast<unsigned long>(platform::CrashLastError()),
               url_.url);
      platform::CrashFileClose(file);
      return false;
    }
    if (n == 0) break;
    error = request.Write(chunk, static_cast<size_t>(n));
    if (error != 0) {
      SetError("DMP WinHttpWriteData[%lu] URL=%s", static_cast<unsigned long>(error), url_.url);
      platform::CrashFileClose(file);
      return false;
    }
  }
  platform::CrashFileClose(file);
  return CheckResponse(request, "DMP");
}

bool Client::Upload(const char* dump_path, const char* text) {
  if (IsDisabled()) {
    SetError("disabled URL=%s", url_.url);
    return false;
  }
  if (dump_path == nullptr || dump_path[0] == '\0') {
    SetError("unknown path=%s", dump_path != nullptr ? dump_path : "");
    return false;
  }
  char file_name[260];
  CopyTo(file_name, sizeof(file_name), FileNameOf(dump_path));
  if (!platform::CrashFileExists(dump_path)) {
    SetError("exists not path=%s", dump_path);
    return false;
  }
  platform::CrashTime t;
  platform::CrashLocalTime(&t);
  // One session and one connection for both parts; closed when the upload
  // ends, the connection first.
  platform::HttpSession session;
  uint32_t error = session.Open();
  if (error != 0) {
    SetError("WinHttpOpen[%lu] URL=%s", static_cast<unsigned long>(error), url_.url);
    return false;
  }
  // The address was resolved at Init; a failed lookup fails the connection.
  error = resolve_error_ != 0 ? resolve_error_ : session.Connect(endpoint_, host_header_);
  if (error != 0) {
    SetError("WinHttpConnect[%lu] URL=%s", static_cast<unsigned long>(error), url_.url);
    return false;
  }
  if (text != nullptr && text[0] != '\0') {
    char remote[260];
    FormatTo(remote, sizeof(remote), "%s_%04d%02d%02d-%02d%02d%02d%03d_%lu_%s", name_prefix_,
             t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond,
             static_cast<unsigned long>(process_id_), "crs.log");
    if (!PutText(session, text, remote)) return false;
  }
  return PutFile(session, dump_path, file_name);
}

}  // namespace crs
