// Every row of the module-to-manager dispatch: the module's `emit` sends through
// the host's handler; the manager peer checks each post's value, or each copy-data
// message's size and bytes at hand-counted offsets (server index, then the record).
#include <gtest/gtest.h>

#include "protocol/gameservermsg.h"
#include "shell_room.h"
#include "table_text.h"

namespace {

using namespace std::chrono_literals;
using gsmsim::IsCopyData;
using gsmsim::IsManagerPost;
using shelltest::kServerIndex;
using shelltest::Room;

// Then SERVERAPPMSG_RESET_REQ asks the update thread for a reset notice, and
// the game end logs entry 10 at level 2 before its record.
TEST(ShellRows, PostsCarryTheirValues) {
  Room room;
  ASSERT_TRUE(room.ready());
  struct Case {
    std::string emit;
    uint16_t msgID;
    uint32_t lParam;
  };
  const std::vector<Case> cases = {
      {"LOADING_COMPLETE map=7", GAMESERVERMSG_LOADING_COMPLETE, 0x00070000},
      {"LOADING_COMPLETE map=-1", GAMESERVERMSG_LOADING_COMPLETE, 0xFFFF0000},
      {"LOADING_FAILED map=4 reason=5", GAMESERVERMSG_LOADING_COMPLETE, 0x0004FFFA},
      {"ADDCLIENT usn=123 kind=12 first=5 second=1", GAMESERVERMSG_ADDCLIENT, 0},
      {"ADDCLIENT usn=77 kind=3 first=5 second=1", GAMESERVERMSG_ADDCLIENT, 0},
      {"MODULE_VALUES first=0x12345 second=7", GAMESERVERMSG_MODULE_VALUES_NTY, 0x00072345},
      {"RELAY_27", GAMESERVERMSG_RELAY_27, 0},
      {"RELAY_28", GAMESERVERMSG_RELAY_28, 0},
      {"RELAY_40", GAMESERVERMSG_RELAY_40, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.emit);
    ASSERT_TRUE(room.Emit(c.emit));
    auto post = room.Next(IsManagerPost(c.msgID));
    ASSERT_TRUE(post.has_value());
    EXPECT_EQ(post->w_param, (static_cast<platform::WParam>(kServerIndex) << 16) | c.msgID);
    EXPECT_EQ(static_cast<uint64_t>(post->l_param), c.lParam);
  }
  const hosttest::HostFolder& folder = room.folder();
  EXPECT_TRUE(folder.WaitForHostLog("GAMESERVERMSG_LOADING_COMPLETE - tMapIndex -1", 5s));
  EXPECT_TRUE(folder.WaitForHostLog("Recv SERVERAPPMSG_ADDCLIENT - USN RTID:123:65541", 5s));
  EXPECT_TRUE(folder.WaitForHostLog("Recv SERVERAPPMSG_ADDCLIENT - USN 77", 5s));
  EXPECT_EQ(folder.HostLog().find("RTID:77"), std::string::npos);
  EXPECT_NE(folder.HostLog().find(hosttest::TableText(6)), std::string::npos);
  EXPECT_NE(folder.HostLog().find(hosttest::TableText(7)), std::string::npos);

  ASSERT_TRUE(room.Emit("RESET_REQ"));
  // An idle room runs one frame in 10 s; the notice goes out at the next.
  EXPECT_TRUE(folder.WaitForTrace("SendToServerShell id=8 reset resets=1", 12s));
  ASSERT_TRUE(room.Emit("GAMEEND"));
  ASSERT_TRUE(room.Next(IsCopyData(GAMESERVERMSG_GAMEEND)).has_value());
  EXPECT_TRUE(folder.WaitForHostLog("[ERROR] " + hosttest::TableText(10), 5s));
}

// Surplus entries are dropped (twelve gacha entries for ten, 51 side-change
// entries for 50) while the fields after them still land in place.
TEST(ShellRows, RecordsArriveWithExactSizesAndBytes) {
  Room room;
  ASSERT_TRUE(room.ready());
  struct Row {
    uint16_t msgID;
    size_t size;
    std::vector<std::pair<size_t, uint8_t>> bytes;  // payload offset, value
    const char* emit;
  };
  const std::vector<Row> rows = {
      {25,
       58,
       {{0, kServerIndex}, {1, 0}, {34, 0x88}, {41, 0x11}, {51, 7}},
       "REMOVECLIENT u64@32=0x1122334455667788 u8@49=7"},
      {8, 109986, {{2, 9}, {109985, 5}}, "GAMEEND u32@0=9 u8@109983=5"},
      {11, 1994, {{1959, 4}}, "HOST_USER_STAT u8@1957=4"},
      // The clan report is its record alone, the index in its first field.
      {16,
       40,
       {{0, kServerIndex}, {8, 1}, {16, 0}, {20, 2}, {24, 3}, {28, 4}, {32, 5}},
       "CLAN_STAT_REPORT f8=1 f16=0x200000000 f24=3 f28=4 f32=5"},
      {18, 23, {{2, 9}, {14, 77}}, "BAN_USER usn=77 ban=9 slot=3"},
      {22, 850, {{848, 0xEF}, {849, 0xBE}}, "HOST_STAT u16@846=0xBEEF"},
      {32,
       143,
       {{11, 5}, {19, 10}, {23, 10}, {31, 20}, {131, 10}, {139, 99}},
       "AIGACHA_ITEM_INSERT usn=5 count=12 value64=10 value32=20 value32.9=99 value32.11=98 "
       "slot=2"},
      {35, 23, {{11, 8}, {19, 1}, {22, 0}}, "MAPLOADING_COMPLETE_NTY usn=8 flag=1 slot=1"},
      {35,
       23,
       {{11, 8}, {19, 1}, {22, 1}},
       "MAPLOADING_COMPLETE_NTY_EX usn=8 flag0=1 flag3=1 slot=1"},
      {39, 58, {{57, 6}}, "SPY_CHANGE u8@55=6"},
      {40, 138, {{26, 3}, {40, 5}}, "FARMING_ITEM_REQ usn=3 value=4 small2=5"},
      // Count 0: eight unused entries, USN all ones and value 0.
      {41,
       117,
       {{10, 'a'}, {12, 'c'}, {13, 0}, {21, 0xFF}, {28, 0xFF}, {29, 0}, {112, 0xFF}, {113, 0}},
       "AI2_BONUSROUND_REWARD_REQ count=0 item=abc"},
      {42, 82, {{28, 42}, {36, 1}}, "AI3_BONUS_CLEARBOX_ITEM usn.2=42 reward.2=1"},
      {43, 11, {{10, 2}}, "FINISHED_GAME_PREV u8@8=2"},
      {46, 606, {{605, 1}}, "SPEC_RECOMMENDROOM_INGAME_DATA u8@603=1"},
      {47,
       3973,
       {{32, 1}, {3876, 2}, {3968, 77}},
       "AUTO_SIDE_CHANGE_TEAM_INFO_NTY f30=1 count=51 f9=2 tail6=77"},
      {52, 91, {{21, 9}, {29, 3}, {30, 1}}, "AI_EXTRA_REWARD_REQ usn.1=9 reward.1=3 special.1=1"},
      {55, 243, {{64, 200}, {68, 1}}, "AI_BOSSTOWER_REWARD_REQ usn=6 large3=200 flag=1"},
      {56, 75, {{35, 100}, {43, 101}}, "AI_EXTRA_MIDDLE_REWARD_REQ usn=100 usn.4=101"},
      {57,
       176,
       {{11, 1}, {12, 2}, {14, 3}, {166, 4}, {174, 5}},
       "INGAME_RESULT_REQ f9=1 f10=2 f12=3 usn.15=4 value.15=5"},
      {59, 2, {{0, kServerIndex}, {1, 0}}, "AUTO_MATCH_STARTING_USER_INFO_ACK"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.emit);
    ASSERT_TRUE(room.Emit(row.emit));
    auto message = room.Next(IsCopyData(row.msgID));
    ASSERT_TRUE(message.has_value());
    ASSERT_EQ(message->data.size(), row.size);
    for (const auto& [offset, value] : row.bytes) {
      EXPECT_EQ(static_cast<uint8_t>(message->data[offset]), value) << "offset " << offset;
    }
  }
  for (const char* line :
       {"SERVERAPPMSG_AIGACHA_ITEM_INSERT: entry count 12 above the record's 10",
        "\tusn = 42, Index = 2, IsReward = 1",
        "\tusn = 9, loop = 1, IsReward = 3, IsSpecialClear = 1", "\tusn = 101, i = 4"}) {
    EXPECT_TRUE(room.folder().WaitForHostLog(line, 5s)) << line;
  }
}

// Rows that only change host state, ids without a row, guarded reads that fail.
TEST(ShellRows, SilentRowsAndAbandonedMessagesSendNothing) {
  Room room;
  ASSERT_TRUE(room.ready());
  for (const char* emit :
       {"HEARTBEAT_VALUE value=0x2A", "IDLE", "SHELL_LOG", "50", "52", "255", "10",
        "MODULE_VALUES first=0x64646464 second=7", "ADDCLIENT usn=1 kind=0x64646464",
        "CLAN_STAT_REPORT f24=0x64646464", "AIGACHA_ITEM_INSERT count=0x64646464",
        "HEARTBEAT_VALUE value=0x64646464"}) {
    ASSERT_TRUE(room.Emit(emit)) << emit;
  }
  const size_t first = room.mark();
  ASSERT_TRUE(room.Emit("RELAY_27"));
  auto marker = room.Next(IsManagerPost(GAMESERVERMSG_RELAY_27));
  ASSERT_TRUE(marker.has_value());
  // The console runs the commands in order: whatever the silent rows sent
  // arrived before the marker. Name it, so that a failure says which row spoke.
  std::string spoke;
  for (const auto& m : room.manager().Messages()) {
    if (m.index < first || m.index >= marker->index) continue;
    spoke += m.kind == gsmsim::ReceivedMessage::Kind::kSend
                 ? " copy-data " + std::to_string(m.dw_data)
                 : " post " + std::to_string(m.w_param & 0xFFFF) + "/" + std::to_string(m.l_param);
  }
  EXPECT_EQ(marker->index, first) << "before the marker:" << spoke;

  const hosttest::HostFolder& folder = room.folder();
  EXPECT_TRUE(folder.WaitForHostLog(hosttest::TableText(11), 5s));
  const std::string log = folder.HostLog();
  for (const char* name :
       {"SERVERAPPMSG_MODULE_VALUES", "SERVERAPPMSG_ADDCLIENT", "SERVERAPPMSG_CLAN_STAT_REPORT",
        "SERVERAPPMSG_AIGACHA_ITEM_INSERT", "SERVERAPPMSG_HEARTBEAT_VALUE"}) {
    EXPECT_NE(log.find(std::string("read error in ") + name + ", message abandoned"),
              std::string::npos)
        << name;
  }
}

}  // namespace
