// The development crash-report service: takes the PUTs of the crash-report
// client under a path prefix and stores each object as a file, with the
// request's headers beside it.
//
// For tests it can answer another status than 200 (201, 500, ...), stall
// (hold every answer for a while, as a service that hangs does), or refuse
// with 400 a request path that is not percent-encoded (strict paths, as a
// strict web server does). Each can be changed while it runs, from the code
// or over HTTP:
//   POST /_control/crs?status=201&stall_ms=2000&strict_paths=1
#pragma once

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace httplib {
class Server;
}

namespace devhttp {

// One PUT that reached the service.
struct StoredObject {
  std::string name;     // the path below the prefix, e.g. "a_crs.log" or "sub/x.dmp"
  std::string headers;  // "Key: value" lines, in the order received
  std::string version;  // the value of the "version" header, empty when none
  size_t size = 0;      // body bytes
  int status = 0;       // the status answered
};

class CrashService {
 public:
  // Objects under prefix ("/crs/" or "/crs": both take "/crs/<name>") are
  // stored below folder, which is created when missing.
  CrashService(std::string prefix, std::filesystem::path folder);
  ~CrashService();

  // Adds the PUT route and the control route to server.
  void Register(httplib::Server& server);

  void SetStatus(int status);
  void SetStallMilliseconds(int milliseconds);
  // On: a PUT whose request path (as it arrived, before decoding) holds a
  // character that must be escaped is answered 400 and not stored.
  void SetStrictPaths(bool on);
  // Ends every stall at once (before the server stops).
  void ReleaseStalls();

  std::vector<StoredObject> Objects() const;
  const std::filesystem::path& folder() const { return folder_; }

 private:
  void Stall();

  std::string prefix_;
  std::filesystem::path folder_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool releasing_ = false;
  int status_ = 200;
  int stall_ms_ = 0;
  bool strict_paths_ = false;
  std::vector<StoredObject> objects_;
};

// True when target (a request path with its query, as sent) holds only
// what a URL may carry unescaped: letters, digits, "-._~!$&'()*+,;=:@/?"
// and '%' followed by two hexadecimal digits.
bool IsEscapedTarget(const std::string& target);

// A name below the prefix that is safe to store: relative, no "." or ".."
// component, no empty component, no backslash or NUL. False for any other.
bool IsSafeObjectName(const std::string& name);

}  // namespace devhttp
