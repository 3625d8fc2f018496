// The development HTTP services (tools/devhttp) at /content/ and /crs/ on
// one loopback port: in this process on POSIX, the build machine's under Wine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// One upload the crash-report service stored.
struct Upload {
  std::string name;     // the path below /crs/, e.g. "a_crs.log"
  std::string version;  // the value of the "version" header, empty when none
  std::string headers;  // every header, "Key: value" lines
  std::uintmax_t size = 0;
};

class ContentServer {
 public:
  ContentServer();
  ~ContentServer();
  ContentServer(const ContentServer&) = delete;
  ContentServer& operator=(const ContentServer&) = delete;

  bool Start(std::string* why);
  void Stop();
  // The folder served at Url(), "http://127.0.0.1:<port>/content/".
  std::filesystem::path Root() const;
  std::string Url() const;
  // POSTs a control route ("/_control/content?mode=short&bytes=10",
  // "/_control/crs?status=201"); the HTTP status, 0 when no answer came.
  int Control(const std::string& path_and_query) const;
  // A URL that redirects to Url() + name; empty under Wine.
  std::string RedirectUrl(const std::string& name) const;

  // "http://127.0.0.1:<port>/crs/" and the folder uploads are stored in.
  std::string CrashUrl() const;
  std::filesystem::path CrashStore() const;
  std::vector<Upload> Uploads() const;
  std::vector<std::string> ContentRequests() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace testsupport
