// Helpers shared by the log tests: a scratch folder, a current directory and
// environment that are put back, file contents, a fixed clock, and a peer
// process with pipes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "mszformat.h"
#include "platform/clock.h"
#include "platform/process.h"

namespace logtest {

// A fresh folder under the system's temp folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// Changes the current directory for one scope.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::filesystem::path& dir);
  ~ScopedCwd();
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  std::filesystem::path old_;
};

// Sets (or, with nullptr, unsets) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// A clock fixed at the time set last.
void SetFixedTime(const platform::LocalTime& t);
platform::LocalTime MakeTime(int y, int mo, int d, int h, int mi, int s, int ms);

// A .msz image of (id, UTF-8 text) pairs.
std::vector<std::uint8_t> MszOf(const std::vector<std::pair<std::int64_t, std::string>>& texts);

// Gives this test process its own shared-memory namespace, so that test
// processes running at once never meet; removes the guard object at the end.
class ShmSession {
 public:
  ShmSession();
  ~ShmSession();
  ShmSession(const ShmSession&) = delete;
  ShmSession& operator=(const ShmSession&) = delete;

 private:
  std::string name_;
};

// A child process running `argv` in `cwd`, its stdin and stdout piped.
class Peer {
 public:
  Peer(const std::vector<std::string>& argv, const std::filesystem::path& cwd);
  ~Peer();  // kills the peer if it still runs
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // The next line of its output, without the LF; empty at end or after
  // `timeout_ms` without a line.
  std::string ReadLine(int timeout_ms = 20000);
  // Closes its stdin (a holding peer then releases and exits) and waits.
  int CloseAndWait();
  void Kill();  // ends it at once and reaps it: no clean-up runs in the peer

 private:
  std::unique_ptr<platform::Process> process_;
};

}  // namespace logtest
