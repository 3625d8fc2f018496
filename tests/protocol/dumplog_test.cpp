// The dumps as they reach the RWPM log file, and the IPCMemory switch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "protocol/dumplog.h"
#include "support/log_sandbox.h"

namespace {

using namespace proto;

// Rows of the address table stop at their first zero address (row 0 gives
// no line); a full row shows all 50.
TEST(DumpLogTest, SwitchOnWritesOneLinePerDumpVerbatim) {
  testsupport::LogSandbox logs("protocol-dumplog-");
  logs.Start("IPCMemory=1\n");
  ASSERT_TRUE(IsDumpOn());
  auto info = std::make_unique<PROTO_START_HOST>();
  std::memcpy(info->GameLogSerial, "%s%n%d", 7);  // printed, never interpreted
  DumpRecord(kRecvTag, 3, *info);
  DumpValue(kRecvTag, 3, "GAMESERVERMSG_USER_DISCONNECTED", -1);
  RWPM_ADDRESS_TABLE table;
  table.Address[0][1] = 1;
  table.Address[2][0] = 10;
  table.Address[5][0] = 20;
  table.Address[5][1] = 21;
  table.Address[5][3] = 23;
  for (auto& address : table.Address[60]) address = ~uint64_t{0};
  DumpAddressTable(kRecvTag, 3, table);

  const std::string text = logs.Text("RWPM_");
  std::string fullRow = ", [RECV], 3, MEMORY_ADDRESS[60], ";
  for (int i = 0; i < 50; ++i) fullRow += "[-1]";
  fullRow += " \r\n";
  const char* expected[] = {
      ", [RECV], 3, PROTO_START_HOST, [0][0][0][%s%n%d][0][0][0][0][0] \r\n",
      ", [RECV], 3, GAMESERVERMSG_USER_DISCONNECTED, [-1] \r\n",
      ", [RECV], 3, MEMORY_ADDRESS[2], [10] \r\n",
      ", [RECV], 3, MEMORY_ADDRESS[5], [20][21] \r\n",
      fullRow.c_str(),
  };
  size_t at = 0;
  for (const char* line : expected) {
    const size_t found = text.find(line, at);
    ASSERT_NE(found, std::string::npos) << line << "\nin:\n" << text;
    at = found + std::strlen(line);
  }
  EXPECT_EQ(at, text.size());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5);
}

}  // namespace
