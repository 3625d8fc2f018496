// The crash-report service client: sends the text of a crash and its
// minidump to the crash-report web service by HTTP PUT.
//
// The service URL comes from section "CRS", key "URL" of CRS.ini: the one
// next to the executable when it names a URL, else the system's
// (/etc/CRS.ini on POSIX). Without a URL the client stays disabled and every
// upload fails with "disabled URL=".
//
// Init runs at start-up; BuildExceptionText and Upload run inside the dying
// process and allocate nothing: fixed buffers only, the service address
// resolved at Init, the upload bounded by the time-outs of
// platform/crash_upload.h. Every failure stores a message of at most 127
// characters (GetLastErrorText) and answers false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "crs/crs_url.h"
#include "platform/crash.h"
#include "platform/crash_upload.h"
#include "platform/printf_format.h"

namespace crs {

// The host's build number: the version header and the dump name's tag.
inline constexpr int kHostBuildNumber = 2112;

// Caller buffer of BuildExceptionText.
inline constexpr size_t kExceptionTextSize = 2048;

// What Init learns from the system; tests substitute their own.
struct ClientEnvironment {
  std::string executable_path;       // full path of the running program
  std::string computer_name;         // empty when it cannot be read
  std::string system_config_folder;  // where the fallback CRS.ini lies
  uint32_t process_id = 0;
  int build_number = kHostBuildNumber;

  // The running process's values (the system folder: /etc on POSIX, the
  // Windows folder on Windows).
  static ClientEnvironment FromSystem();
};

class Client {
 public:
  // The process-wide client (created on first use, with FromSystem()).
  static Client& Instance();

  explicit Client(ClientEnvironment environment);
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Reads CRS.ini, splits the URL, resolves the service's address and sets
  // the report name prefix and the version header. The output folder must
  // not be empty; neither folder is used otherwise. False with the reason in
  // GetLastErrorText; the client then stays disabled.
  bool Init(const char* output_folder, const char* instance_folder);

  // Appends the crash text (exception and at most 10 stack frames, lines
  // ending in CR LF) to text, a caller-owned zeroed buffer of
  // kExceptionTextSize bytes; the text stays within 2047 characters. A null
  // info gives the one line of a missing record. Does nothing while disabled.
  void BuildExceptionText(const platform::CrashInfo* info, char* text) const;

  // Puts text (when not empty) as "<prefix>_<yyyymmdd-hhmmssmmm>_<pid>_crs.log"
  // and then the dump file under its own name into the URL's folder. True
  // only when every part was answered 200.
  bool Upload(const char* dump_path, const char* text);

  const char* GetUrl() const { return url_.url; }
  const char* GetLastErrorText() const { return last_error_; }
  bool IsDisabled() const { return url_.host[0] == '\0'; }

  // The report name prefix ("<program>_<computer>") and the extra header
  // ("version:2112", or empty), as Init set them.
  const char* report_name_prefix() const { return name_prefix_; }
  const char* version_header() const { return version_header_; }

 private:
  void SetError(const char* format, ...) SERVERAPP_PRINTF(2, 3);
  void AppendLine(char* text, const char* format, ...) const SERVERAPP_PRINTF(3, 4);
  bool OpenRequest(platform::HttpSession& session, platform::HttpPut& request,
                   const char* remote_name, const char* label);
  bool PutText(platform::HttpSession& session, const char* text, const char* remote_name);
  bool PutFile(platform::HttpSession& session, const char* path, const char* remote_name);
  bool CheckResponse(platform::HttpPut& request, const char* label);
  void RequestPath(const char* remote_name, char* out, size_t size) const;

  char last_error_[128] = {};
  Url url_;
  uint32_t process_id_ = 0;
  char name_prefix_[260] = {};
  char version_header_[32] = {};
  char host_header_[272] = {};
  platform::HttpEndpoint endpoint_ = {};
  uint32_t resolve_error_ = 0;
  ClientEnvironment environment_;
};

}  // namespace crs
