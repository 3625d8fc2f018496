// Helpers of the Windows tests that run under Wine: folders both sides see,
// Windows helper programs, and the development HTTP services (tools/devhttp)
// run as a native Linux process of the build machine.
//
// Wine starts Linux programs through CreateProcess; the Windows test starts
// devhttp that way, on a port it picked, with its folders under a shared
// folder of the build machine's /tmp, and stops it with kill. Which devhttp:
// the environment variable SERVERAPP_HOST_DEVHTTP (a Linux path) when set,
// else the one CMake found at configure time (SERVERAPP_HOST_DEVHTTP).
#pragma once

#include <filesystem>

#include <string>
#include <vector>
#include "stackwalk_reading.h"

namespace wine_test {

// True when this Windows program runs under Wine.
bool UnderWine();

// A loopback port nothing listens on, as the system hands one out; -1 when
// none could be had.
int FreePort();

// The Linux path of devhttp, or empty when none is known.
std::string HostDevHttpPath();

// Breakpad's minidump_stackwalk of the build machine (the one the native
// crash tests fetched beside devhttp, scripts/breakpad-tools.sh) run on a
// dump: ok is false (and the text says why) when it is missing or failed.
crs_test::StackwalkReading HostStackwalk(const std::filesystem::path& dump);

// A fresh folder under the build machine's /tmp, removed with its content
// at the end of the scope. dos() is its Windows name, unix() its Linux one.
class SharedFolder {
 public:
  SharedFolder();
  ~SharedFolder();
  SharedFolder(const SharedFolder&) = delete;
  SharedFolder& operator=(const SharedFolder&) = delete;

  bool valid() const { return !dos_.empty(); }
  const std::filesystem::path& dos() const { return dos_; }
  const std::string& unix() const { return unix_; }

 private:
  std::filesystem::path dos_;
  std::string unix_;
};

// devhttp on the build machine: crash-report service at /crs/ storing in
// <folder>/crs, content file server at /content/ serving <folder>/content.
class HostDevHttp {
 public:
  explicit HostDevHttp(const SharedFolder& folder) : folder_(folder) {}
  ~HostDevHttp();
  HostDevHttp(const HostDevHttp&) = delete;
  HostDevHttp& operator=(const HostDevHttp&) = delete;

  // Starts it and waits until it serves. False with the reason in *why.
  bool Start(std::string* why);
  // Stops it (also done by the destructor).
  void Stop();

  int port() const { return port_; }
  std::string Url(const std::string& path) const;
  std::filesystem::path CrashStore() const { return folder_.dos() / "crs"; }
  std::filesystem::path ContentRoot() const { return folder_.dos() / "content"; }
  // What devhttp printed: its address, then one line per package request.
  std::filesystem::path OutputFile() const { return folder_.dos() / "devhttp.out"; }

  // POST <path_and_query> with an empty body (the services' control
  // routes); answers the HTTP status, 0 when no answer came.
  int Control(const std::string& path_and_query) const;

 private:
  const SharedFolder& folder_;
  int port_ = -1;
  bool started_ = false;
};

// How a Windows helper program ended.
struct RunResult {
  bool started = false;
  bool timed_out = false;
  unsigned long exit_code = 0;
};

// Runs program with args in cwd, with extra environment variables
// ("NAME=value") on top of this process's; stdout and stderr go to
// output_file when given. Waits up to timeout_ms, then kills it.
RunResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                     const std::filesystem::path& cwd, const std::vector<std::string>& env,
                     const std::filesystem::path& output_file, unsigned long timeout_ms);

std::string ReadWhole(const std::filesystem::path& path);
void WriteWhole(const std::filesystem::path& path, const std::string& bytes);
// Every regular file below folder whose name contains part, sorted.
std::vector<std::filesystem::path> FindFiles(const std::filesystem::path& folder,
                                             const std::string& part);

}  // namespace wine_test
