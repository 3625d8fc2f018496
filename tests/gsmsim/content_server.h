// The development content server (tools/devhttp) for the tests that load a
// package through a real host. On POSIX it is a child process; under Wine
// it stays a Linux program of the build machine (tests/crs/wine_host.h),
// as a Windows program cannot read a Linux child's output through a pipe.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace gsmsim_test {

class ContentServer {
 public:
  ContentServer();
  ~ContentServer();
  ContentServer(const ContentServer&) = delete;
  ContentServer& operator=(const ContentServer&) = delete;

  // Starts it on a free loopback port, serving Root() under /content/;
  // false with the reason in *why.
  bool Start(std::string* why);
  // The folder it serves (exists once Start succeeded).
  std::filesystem::path Root() const;
  // "http://127.0.0.1:<port>/content/".
  std::string Url() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace gsmsim_test
