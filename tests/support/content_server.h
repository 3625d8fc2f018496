// The development content server (tools/devhttp) for the tests that fetch
// packages: a folder served under /content/ on a free loopback port, and its
// control route. On POSIX it runs in this process; under Wine it stays a
// Linux program of the build machine (tests/crs/wine_host.h).
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace testsupport {

class ContentServer {
 public:
  ContentServer();
  ~ContentServer();
  ContentServer(const ContentServer&) = delete;
  ContentServer& operator=(const ContentServer&) = delete;

  // Starts it, serving Root(); false with the reason in *why.
  bool Start(std::string* why);
  // Stops it: nothing listens on its port afterwards.
  void Stop();
  // The folder it serves (exists once Start succeeded).
  std::filesystem::path Root() const;
  // "http://127.0.0.1:<port>/content/".
  std::string Url() const;
  // POSTs a control route ("/_control/content?mode=short&bytes=10"); the
  // HTTP status, 0 when no answer came.
  int Control(const std::string& path_and_query) const;
  // A URL that redirects to Url() + name, or empty where the server has no
  // such route (the build machine's devhttp).
  std::string RedirectUrl(const std::string& name) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace testsupport
