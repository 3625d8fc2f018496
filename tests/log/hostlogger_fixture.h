// The host logger tests' fixture: a scratch folder as the current
// directory and log base, a fixed clock, and the paths of the log files.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "hostlogger.h"
#include "hostlogger_testing.h"
#include "logtestutil.h"
#include "platform/identity.h"

namespace logtest {

namespace fs = std::filesystem;

class HostLoggerTest : public ::testing::Test {
 protected:
  HostLoggerTest()
      : base_env_("SERVERAPP_LOG_BASE", (dir_.path() / "logs").string().c_str()),
        cwd_(dir_.path()) {}

  void SetUp() override {
    ResetHostLoggerForTesting();
    SetFixedTime(MakeTime(2026, 12, 5, 14, 3, 7, 15));
  }
  void TearDown() override {
    platform::SetLocalTimeSource(nullptr);
    platform::SetAssertionSink({});
    ResetHostLoggerForTesting();
  }

  // Writes Setting.ini (section LogInfo) and initialises as start-up does.
  void Init(const std::string& log_info, const char* instance = "7_3") {
    logtest::WriteFile(dir_.path() / "Setting.ini",
                       "[GameMgmt]\nFullDump=0\n[LogInfo]\n" + log_info);
    InitHostLogger("ROOMPC01", "ServerApp", instance, nullptr);
  }

  fs::path Root() const { return dir_.path() / "logs" / "quellmark" / "ServerApp"; }
  fs::path Folder(const std::string& date) const { return Root() / date / "7_3"; }
  fs::path File(const std::string& head, const std::string& date, const std::string& slot) const {
    return Folder(date) / (head + "_ServerApp_ROOMPC01_" + date + slot + ".log");
  }
  std::set<std::string> FilesIn(const fs::path& folder) const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
  }

  logtest::TempDir dir_;
  logtest::ScopedEnv base_env_;
  logtest::ScopedCwd cwd_;
};

// Splits a file's bytes into entries ended by the level / info line end.
inline std::vector<std::string> Entries(const std::string& bytes,
                                        const std::string& end = " \r\r\n") {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t pos; (pos = bytes.find(end, start)) != std::string::npos; start = pos + end.size()) {
    out.push_back(bytes.substr(start, pos - start));
  }
  EXPECT_EQ(start, bytes.size()) << "bytes after the last line end";
  return out;
}

}  // namespace logtest
