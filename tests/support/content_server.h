// The development HTTP services (tools/devhttp): the content file server at
// /content/ and the crash-report service at /crs/ on one free loopback port,
// their control routes, and what reached them. On POSIX they run in this
// process; under Wine they stay a Linux program of the build machine.
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

  // Starts both services; false with the reason in *why.
  bool Start(std::string* why);
  // Stops them: nothing listens on the port afterwards.
  void Stop();
  // The folder served at Url(), "http://127.0.0.1:<port>/content/" (exists
  // once Start succeeded).
  std::filesystem::path Root() const;
  std::string Url() const;
  // POSTs a control route ("/_control/content?mode=short&bytes=10",
  // "/_control/crs?status=201"); the HTTP status, 0 when no answer came.
  int Control(const std::string& path_and_query) const;
  // A URL that redirects to Url() + name, or empty where the server has no
  // such route (the build machine's devhttp).
  std::string RedirectUrl(const std::string& name) const;

  // "http://127.0.0.1:<port>/crs/" and the folder uploads are stored in.
  std::string CrashUrl() const;
  std::filesystem::path CrashStore() const;
  // The uploads stored so far, in the order they arrived.
  std::vector<Upload> Uploads() const;
  // The decoded names of every package request received, in order.
  std::vector<std::string> ContentRequests() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace testsupport
