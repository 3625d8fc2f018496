// The log tests' helpers and the fixtures of the host logger's and the
// message table's tests, each in a log sandbox.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "logmsgmanager.h"
#include "platform/clock.h"
#include "platform/identity.h"
#include "platform/process.h"
#include "support/log_sandbox.h"
#include "support/scratch.h"

namespace logtest {

namespace fs = std::filesystem;

using testsupport::ReadFile;
void WriteFile(const fs::path& path, const std::string& bytes);

// A clock fixed at the time set last.
void SetFixedTime(const platform::LocalTime& t);

// A .msz image of (id, UTF-8 text) pairs.
std::string MszOf(const std::vector<std::pair<std::int64_t, std::string>>& texts);

// This process's own shared-memory namespace, so that test processes
// running at once never meet.
class ShmSession {
 public:
  ShmSession() { testsupport::SetEnv("SERVERAPP_SHM_SESSION", name_.c_str()); }
  ~ShmSession() {
    testsupport::RemoveSharedMemoryLeftovers(name_);
    testsupport::SetEnv("SERVERAPP_SHM_SESSION", nullptr);
  }
  ShmSession(const ShmSession&) = delete;
  ShmSession& operator=(const ShmSession&) = delete;

 private:
  std::string name_ = "logtest" + std::to_string(platform::CurrentProcessId());
};

// A logmsg_peer instance, its stdin and stdout piped.
class Peer {
 public:
  explicit Peer(std::unique_ptr<platform::Process> process) : process_(std::move(process)) {}
  // One that does not end when asked is killed (by the Process object).
  ~Peer() {
    process_->CloseStdin();
    process_->Wait(5000);
  }

  std::string ReadLine(int timeout_ms = 20000) {
    std::string line;
    return process_->ReadStdoutLine(&line, timeout_ms) ? line : std::string();
  }
  // A holding peer releases and exits when its stdin closes.
  int CloseAndWait() {
    process_->CloseStdin();
    const auto status = process_->Wait(-1);
    return status && status->exited ? status->exit_code : -1;
  }
  void Kill() {  // no clean-up runs in the peer
    process_->Kill();
    process_->Wait(-1);
  }

 private:
  std::unique_ptr<platform::Process> process_;
};

// Splits a file's bytes into entries ended by the level / info line end.
std::vector<std::string> Entries(const std::string& bytes, const std::string& end = " \r\r\n");

// The host logger in a scratch folder at 2026-12-05 14:03:07.015 (slot 04).
class HostLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override { SetFixedTime({2026, 12, 5, 14, 3, 7, 15}); }
  void TearDown() override;

  fs::path Root() const { return logs_.LogBase() / "quellmark" / "ServerApp"; }
  fs::path Folder(const std::string& date) const { return Root() / date / "7_3"; }
  fs::path File(const std::string& head, const std::string& date = "20261205",
                const std::string& slot = "_04") const {
    return Folder(date) / (head + "_ServerApp_ROOMPC01_" + date + slot + ".log");
  }
  std::set<std::string> FilesIn(const fs::path& folder) const;

  // Lines "<who> <nnnnn> <pad>" to the main and the etcinfo log.
  static void WriteNumbered(char who, int lines, const std::string& pad);
  // Those of writers `first` and the next letter: whole and in order.
  void ExpectWholeNumbered(char first, int lines, const std::string& pad) const;

  testsupport::LogSandbox logs_{"hostlogger-"};
};

// The message table with short waits; assertion reports collected.
class MessageTableTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void WriteTable(const std::vector<std::pair<std::int64_t, std::string>>& texts) const {
    WriteFile(logs_.dir() / kLogMszPath, MszOf(texts));
  }
  // A peer instance in this folder: "<mode> <hold|exit> <waits> <ids>".
  std::unique_ptr<Peer> StartPeer(const std::string& mode, const std::string& when,
                                  const std::vector<std::string>& ids = {},
                                  const std::vector<std::pair<std::string, std::string>>& env = {});
  void StartLogger();

  ShmSession session_;
  testsupport::LogSandbox logs_{"logmsg-"};
  std::vector<std::string> asserts_;
};

}  // namespace logtest
