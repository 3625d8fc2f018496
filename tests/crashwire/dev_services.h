// The development HTTP services (tools/devhttp) as the real-host tests see
// them: the crash-report service at /crs/ and the content file server at
// /content/ on one loopback port, their folders, and what reached them.
//
// On POSIX they run in the test process (dev_services_posix.cpp). devhttp
// is a Linux program, so a Windows test program under Wine starts the build
// machine's devhttp beside it instead (dev_services_win32.cpp,
// tests/crs/wine_host.h); CMake picks the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace devtest {

// One upload the crash-report service stored.
struct Upload {
  std::string name;     // the path below /crs/, e.g. "a_crs.log"
  std::string version;  // the value of the "version" header, empty when none
  std::uintmax_t size = 0;
};

class DevServices {
 public:
  DevServices();
  ~DevServices();
  DevServices(const DevServices&) = delete;
  DevServices& operator=(const DevServices&) = delete;

  // Starts both services on a free loopback port. False with the reason in
  // *why (also when this system cannot run them).
  bool Start(std::string* why);

  // "http://127.0.0.1:<port>/crs/" and ".../content/"; meaningful once
  // Start succeeded.
  std::string CrashUrl() const;
  std::string ContentUrl() const;

  // The folder each upload is stored in, under its name.
  std::filesystem::path CrashStore() const;
  // The folder the content server serves packages from.
  std::filesystem::path ContentRoot() const;

  // The uploads stored so far, in the order they arrived.
  std::vector<Upload> Uploads() const;
  // The decoded names of every package request received, in order.
  std::vector<std::string> ContentRequests() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace devtest
