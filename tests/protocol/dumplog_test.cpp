// The dumps as they reach the RWPM log file, and the IPCMemory switch.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "protocol/dumplog.h"
#include "support/log_sandbox.h"

namespace {

using namespace proto;

class DumpLogTest : public ::testing::Test {
 protected:
  void Init(int ipcMemory) { logs_.Start("IPCMemory=" + std::to_string(ipcMemory) + "\n"); }
  std::string RwpmText() const { return logs_.Text("RWPM_"); }

  testsupport::LogSandbox logs_{"protocol-dumplog-"};
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
