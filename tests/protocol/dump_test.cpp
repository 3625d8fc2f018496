// The record dumps' exact text, and the RWPM log file with IPCMemory on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "protocol/dumplog.h"
#include "protocol/dumptext.h"
#include "protocol/dumpvalues.h"
#include "support/log_sandbox.h"

namespace {

using namespace proto;

std::string Repeat(const std::string& piece, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += piece;
  return out;
}

// PROTO_START_HOST: DumpLogTest.
TEST(DumpText, RecvRecordsPrintTheirFieldsInOrder) {
  // A USN above 2^63-1 prints negative.
  PROTO_GAME_USER_INFO user{.USN = (uint64_t{1} << 63) + 5,
                            .f8 = {1, 2, 3, 0xFF},
                            .TeamIdx = -1,
                            .SlotIdx = 13,
                            .f17 = 17,
                            .f74 = 74};
  for (int i = 0; i < 7; ++i) user.f78[i] = {i, -i};
  EXPECT_EQ(DumpText(kRecvTag, -2, user),
            "[RECV], -2, PROTO_GAME_USER_INFO, [-9223372036854775803][1][2][3][255][-1][13][17]"
            "[74][0][0][1][-1][2][-2][3][-3][4][-4][5][-5][6][-6]");

  // The item-insert result prints all ten entries whatever its count says.
  PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT result;
  result.USN = 9;
  result.Count = 1;
  result.Entries[0] = {0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFF};
  result.Entries[9] = {99, 98};
  EXPECT_EQ(DumpText(kRecvTag, 0, result),
            "[RECV], 0, PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT, [9][1][-1][4294967295]" +
                Repeat("[0][0]", 8) + "[99][98]");
}

TEST(DumpText, LongRecordIsCutAt260AndLaterShortPiecesStillFit) {
  PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT rates;
  rates.Count = 30;
  for (int i = 0; i < 12; ++i) rates.Entries[i].First = rates.Entries[i].Second = 100000000;
  rates.Entries[12].First = 7;
  rates.Entries[12].Second = 100000000;
  rates.Entries[13].First = 8;
  rates.Entries[13].Second = 9;
  // 7 characters, then 22 pieces of 11 (249); the next two 11-character
  // pieces would reach 260 and are left out; [7], [8] and [9] still fit
  // (258); the remaining "[0]" pieces would reach 261.
  const std::string values = "[0][30]" + Repeat("[100000000]", 22) + "[7][8][9]";
  ASSERT_EQ(values.size(), 258u);
  EXPECT_EQ(DumpText(kRecvTag, 1, rates),
            "[RECV], 1, PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT, " + values);

  // At 256 a 3-character piece fits (259), a 4-character one (260) does not.
  DumpValues v;
  for (int i = 0; i < 64; ++i) v.AddInt(10);  // 64 pieces of 4 = 256
  ASSERT_EQ(v.Text().size(), 256u);
  v.AddInt(10);
  EXPECT_EQ(v.Text().size(), 256u);
  v.AddInt(1);
  EXPECT_EQ(v.Text().size(), 259u);
  v.AddText("");
  EXPECT_EQ(v.Text().size(), 259u);
}

TEST(DumpText, SendRecords) {
  PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT insert;
  EXPECT_EQ(DumpText(kSendTag, 3, insert),
            "[SEND], 3, PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT, [-1][0]");
  insert.Count = 200;  // bounded by the record's ten entries
  insert.Entries[9] = {5, 6};
  EXPECT_EQ(DumpText(kSendTag, 3, insert),
            "[SEND], 3, PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT, [-1][200]" + Repeat("[0][0]", 9) +
                "[5][6]");

  // f24 is printed as i32.
  const CLANSTATREPORTDATA clan{
      .tIndex = 3, .f8 = ~uint64_t{0}, .f16 = 2, .f24 = 0xFFFFFFFF, .f28 = 4, .f32 = 5};
  EXPECT_EQ(DumpText(kSendTag, 3, clan), "[SEND], 3, CLANSTATREPORTDATA, [3][-1][2][-1][4][5]");

  const GAMEPROTO_SC_REMOVECLIENT remove{
      .f32 = -32, .f40 = 40, .f42 = 0xFFFF, .f44 = 44, .f48 = 48, .slotIndex = 49};
  EXPECT_EQ(DumpText(kSendTag, 7, remove),
            "[SEND], 7, GAMEPROTO_SC_REMOVECLIENT, [49][-32][40][65535][44][48]");

  const PROTO_BAN_USER ban{.BanValue = 3, .USN = 12};
  EXPECT_EQ(DumpText(kSendTag, 0, ban), "[SEND], 0, PROTO_BAN_USER, [12][3]");

  const PROTO_INSERT_CHARACTER_RESULT ack{.USN = 44};
  EXPECT_EQ(DumpText(kSendTag, 0, ack), "[SEND], 0, PROTO_INSERT_CHARACTER_RESULT, [44][0]");

  PROTO_AI2_BONUSROUND_REWARD_REQ ai2;
  std::memcpy(ai2.szItemID, "ELEVENCHARS", 11);  // no terminator: cut at the array
  ai2.Entries[0] = {1, 2};
  EXPECT_EQ(
      DumpText(kSendTag, 0, ai2),
      "[SEND], 0, PROTO_AI2_BONUSROUND_REWARD_REQ, [ELEVENCHARS][1][2]" + Repeat("[-1][0]", 7));

  const PROTO_FINISHED_GAME_PREV prev{.f0 = 1, .f4 = -4, .f6 = 6};
  EXPECT_EQ(DumpText(kSendTag, 0, prev), "[SEND], 0, PROTO_FINISHED_GAME_PREV, [1][-4][6]");

  PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY nty;
  nty.Flags[0] = 1;
  EXPECT_EQ(DumpText(kSendTag, 0, nty), "[SEND], 0, PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY, [-1][1]");
}

TEST(DumpText, GameEndShowsItsLeadingFieldsWithinTheLimit) {
  auto end = std::make_unique<GAMEPROTO_SS_GAMEEND>();
  end->f24 = 1;
  end->f25 = 3;  // three f26 values are listed
  end->f26[0] = 10;
  end->f26[1] = 11;
  end->f26[2] = 12;
  end->f26[3] = 13;  // beyond the listed count
  end->f126 = 2;
  end->f2104[0] = -5;
  std::memcpy(end->f127[0], "NAME0", 6);
  const std::string line = DumpText(kSendTag, 4, *end);
  const std::string head = "[SEND], 4, GAMEPROTO_SS_GAMEEND, ";
  ASSERT_EQ(line.compare(0, head.size(), head), 0);
  const std::string values = line.substr(head.size());
  EXPECT_EQ(values.compare(0, 46, "[1][3][10][11][12][2][-5][NAME0][0][0][0][0][0"), 0) << values;
  EXPECT_LT(values.size(), 260u);
  EXPECT_GE(values.size(), 250u);

  end->f25 = 255;  // more than the 50 entries: the loop stops at 50
  const std::string capped = DumpText(kSendTag, 4, *end);
  EXPECT_EQ(capped.compare(head.size(), 18, "[1][255][10][11][1"), 0) << capped;
}

// Address rows stop at their first zero (row 0 gives no line); a full row shows all 50.
TEST(DumpLogTest, SwitchOnWritesOneLinePerDumpVerbatim) {
  testsupport::LogSandbox logs("protocol-dumplog-");
  logs.Start("IPCMemory=1\n");
  ASSERT_TRUE(IsDumpOn());
  auto info = std::make_unique<PROTO_START_HOST>();
  info->f0 = -1;
  info->f4 = 0xFFFFFFFF;
  info->f8 = 8;
  std::memcpy(info->GameLogSerial, "%s%n%d", 7);  // printed, never interpreted
  info->f28 = 0xFFFF;                             // printed as i16
  info->f30 = 30;
  info->f32 = -32;
  info->f34 = 34;
  info->f36 = 0xFF;
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
      ", [RECV], 3, PROTO_START_HOST, [-1][4294967295][8][%s%n%d][-1][30][-32][34][255] \r\n",
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
