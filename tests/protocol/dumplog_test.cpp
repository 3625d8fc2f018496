// The dumps as they reach the RWPM log file, and the IPCMemory switch.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "hostlogger.h"
#include "hostlogger_testing.h"
#include "platform/identity.h"
#include "protocol/dumplog.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

namespace {

using namespace proto;

class DumpLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("protocol-dumplog-" + std::to_string(platform::CurrentProcessId()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    old_cwd_ = fs::current_path();
    fs::current_path(dir_);
    testsupport::SetEnv("SERVERAPP_LOG_BASE", (dir_ / "logs").string().c_str());
    ResetHostLoggerForTesting();
  }
  void TearDown() override {
    ResetHostLoggerForTesting();
    testsupport::SetEnv("SERVERAPP_LOG_BASE", nullptr);
    fs::current_path(old_cwd_);
    fs::remove_all(dir_);
  }

  void Init(int ipcMemory) {
    std::ofstream("Setting.ini") << "[LogInfo]\nIPCMemory=" << ipcMemory << "\n";
    InitHostLogger("ROOMPC01", "ServerApp", "7_3", nullptr);
  }

  // Everything written to RWPM files, or "" when there is none.
  std::string RwpmText() const {
    std::string all;
    if (!fs::exists(dir_ / "logs")) return all;
    for (const auto& entry : fs::recursive_directory_iterator(dir_ / "logs")) {
      if (entry.path().filename().string().rfind("RWPM_", 0) != 0) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      all += text.str();
    }
    return all;
  }

  fs::path dir_;
  fs::path old_cwd_;
};

TEST_F(DumpLogTest, SwitchOffWritesNothing) {
  Init(0);
  ASSERT_FALSE(IsDumpOn());
  PROTO_GAME_USER_INFO user;
  DumpRecord(kRecvTag, 3, user);
  DumpValue(kRecvTag, 3, "GAMESERVERMSG_USER_DISCONNECTED", 5);
  RWPM_ADDRESS_TABLE table;
  table.Address[1][0] = 1;
  DumpAddressTable(kRecvTag, 3, table);
  EXPECT_EQ(RwpmText(), "");
}

TEST_F(DumpLogTest, SwitchOnWritesOneLinePerDumpVerbatim) {
  Init(1);
  ASSERT_TRUE(IsDumpOn());
  auto info = std::make_unique<PROTO_START_HOST>();
  std::memcpy(info->GameLogSerial, "%s%n%d", 7);  // printed, never interpreted
  DumpRecord(kRecvTag, 3, *info);
  DumpValue(kRecvTag, 3, "GAMESERVERMSG_USER_DISCONNECTED", -1);
  RWPM_ADDRESS_TABLE table;
  table.Address[2][0] = 10;
  table.Address[5][0] = 20;
  table.Address[5][1] = 21;
  DumpAddressTable(kRecvTag, 3, table);

  const std::string text = RwpmText();
  const char* expected[] = {
      ", [RECV], 3, PROTO_START_HOST, [0][0][0][%s%n%d][0][0][0][0][0] \r\n",
      ", [RECV], 3, GAMESERVERMSG_USER_DISCONNECTED, [-1] \r\n",
      ", [RECV], 3, MEMORY_ADDRESS[2], [10] \r\n",
      ", [RECV], 3, MEMORY_ADDRESS[5], [20][21] \r\n",
  };
  size_t at = 0;
  for (const char* line : expected) {
    const size_t found = text.find(line, at);
    ASSERT_NE(found, std::string::npos) << line << "\nin:\n" << text;
    at = found + std::strlen(line);
  }
  EXPECT_EQ(at, text.size());
}

}  // namespace
