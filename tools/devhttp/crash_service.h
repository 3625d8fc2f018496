// The development crash-report service: takes the PUTs of the crash-report
// client under a path prefix and stores each object as a file, with the
// request's headers beside it.
//
// For tests it can answer another status than 200 (201, 500, ...) or stall
// (hold every answer for a while, as a service that hangs does). Both can
// be changed while it runs, from the code or over HTTP:
//   POST /_control/crs?status=201&stall_ms=2000
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
  std::vector<StoredObject> objects_;
};

// A name below the prefix that is safe to store: relative, no "." or ".."
// component, no empty component, no backslash or NUL. False for any other.
bool IsSafeObjectName(const std::string& name);

}  // namespace devhttp
