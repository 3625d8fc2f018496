// Every row of the module-to-manager dispatch, end to end: the reference
// module's `emit` command sends the message through the host's handler, and
// the manager peer checks what arrives: the post and its value, or the
// copy-data message with its exact size and bytes.
#include <gtest/gtest.h>

#include <cstring>

#include "protocol/gameservermsg.h"
#include "protocol/payload.h"
#include "protocol/postedparams.h"
#include "protocol/relayrecords.h"
#include "protocol/rewardrecords.h"
#include "shell_room.h"
#include "table_text.h"

namespace {

using namespace std::chrono_literals;
using gsmsim::IsCopyData;
using gsmsim::IsManagerPost;
using shelltest::Bytes;
using shelltest::kServerIndex;
using shelltest::Room;

template <typename Record>
std::vector<uint8_t> Expected(const Record& record) {
  return proto::MakeRecordPayload(kServerIndex, record).bytes;
}

uint64_t U64At(const std::vector<uint8_t>& bytes, size_t offset) {
  uint64_t value = 0;
  std::memcpy(&value, bytes.data() + offset, sizeof(value));
  return value;
}

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset) {
  uint32_t value = 0;
  std::memcpy(&value, bytes.data() + offset, sizeof(value));
  return value;
}

platform::WParam PostWParam(uint16_t msgID) {
  return (static_cast<platform::WParam>(kServerIndex) << 16) | msgID;
}

// The posted rows: the value of each post as the manager reads it.
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
    EXPECT_EQ(post->w_param, PostWParam(c.msgID));
    EXPECT_EQ(static_cast<uint64_t>(post->l_param), c.lParam);
  }
  const hosttest::HostFolder& folder = room.folder();
  EXPECT_TRUE(folder.WaitForHostLog("GAMESERVERMSG_LOADING_COMPLETE - tMapIndex -1", 5s));
  EXPECT_TRUE(folder.WaitForHostLog("Recv SERVERAPPMSG_ADDCLIENT - USN RTID:123:65541", 5s));
  EXPECT_TRUE(folder.WaitForHostLog("Recv SERVERAPPMSG_ADDCLIENT - USN 77", 5s));
  EXPECT_EQ(folder.HostLog().find("RTID:77"), std::string::npos);
  // Loading complete and loading failed log their table entries.
  EXPECT_NE(folder.HostLog().find(hosttest::TableText(6)), std::string::npos);
  EXPECT_NE(folder.HostLog().find(hosttest::TableText(7)), std::string::npos);
}

// The copy-data rows: id, size and bytes as the catalogue lays them out.
TEST(ShellRows, RecordsArriveWithExactSizesAndBytes) {
  Room room;
  ASSERT_TRUE(room.ready());
  auto send = [&](const std::string& emit, uint16_t msgID, size_t size) -> std::vector<uint8_t> {
    SCOPED_TRACE(emit);
    EXPECT_TRUE(room.Emit(emit));
    auto message = room.Next(IsCopyData(msgID));
    if (!message) {
      ADD_FAILURE() << "no copy data " << msgID;
      return {};
    }
    EXPECT_EQ(message->data.size(), size);
    return Bytes(*message);
  };

  {
    auto bytes = send("REMOVECLIENT u64@32=0x1122334455667788 u8@49=7", 25, 58);
    ASSERT_EQ(bytes.size(), 58u);
    EXPECT_EQ(bytes[0], kServerIndex);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(U64At(bytes, 2 + 32), 0x1122334455667788u);
    EXPECT_EQ(bytes[2 + 49], 7);
  }
  {
    auto bytes = send("GAMEEND u32@0=9 u8@109983=5", 8, 109986);
    ASSERT_EQ(bytes.size(), 109986u);
    EXPECT_EQ(U32At(bytes, 2), 9u);
    EXPECT_EQ(bytes[109985], 5);
  }
  EXPECT_EQ(send("HOST_USER_STAT u8@1957=4", 11, 1994).at(2 + 1957), 4);
  {
    CLANSTATREPORTDATA clan;
    clan.tIndex = kServerIndex;
    clan.f8 = 1;
    clan.f16 = 0x200000000;
    clan.f24 = 3;
    clan.f28 = 4;
    clan.f32 = 5;
    EXPECT_EQ(send("CLAN_STAT_REPORT f8=1 f16=0x200000000 f24=3 f28=4 f32=5", 16, 40),
              proto::MakeClanStatPayload(clan).bytes);
  }
  {
    PROTO_BAN_USER ban;
    ban.USN = 77;
    ban.BanValue = 9;
    EXPECT_EQ(send("BAN_USER usn=77 ban=9 slot=3", 18, 23), Expected(ban));
  }
  EXPECT_EQ(send("HOST_STAT u16@846=0xBEEF", 22, 850).at(2 + 847), 0xBE);
  {
    // Twelve entries for a record of ten: the first ten are kept and the
    // slot after the surplus is still read from its place.
    PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT gacha;
    gacha.USN = 5;
    gacha.Count = 10;
    for (auto& entry : gacha.Entries) {
      entry.Value64 = 10;
      entry.Value32 = 20;
    }
    gacha.Entries[9].Value32 = 99;
    EXPECT_EQ(send("AIGACHA_ITEM_INSERT usn=5 count=12 value64=10 value32=20 value32.9=99 "
                   "value32.11=98 slot=2",
                   32, 143),
              Expected(gacha));
    EXPECT_TRUE(room.folder().WaitForHostLog(
        "SERVERAPPMSG_AIGACHA_ITEM_INSERT: entry count 12 above the record's 10", 5s));
  }
  {
    PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY nty;
    nty.USN = 8;
    nty.Flags[0] = 1;
    EXPECT_EQ(send("MAPLOADING_COMPLETE_NTY usn=8 flag=1 slot=1", 35, 23), Expected(nty));
    nty.Flags[3] = 1;
    EXPECT_EQ(send("MAPLOADING_COMPLETE_NTY_EX usn=8 flag0=1 flag3=1 slot=1", 35, 23),
              Expected(nty));
  }
  EXPECT_EQ(send("SPY_CHANGE u8@55=6", 39, 58).at(57), 6);
  {
    PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ farming;
    for (auto& entry : farming.Entries) {
      entry.USN = 3;
      entry.Value = 4;
      entry.Small[2] = 5;
    }
    EXPECT_EQ(send("FARMING_ITEM_REQ usn=3 value=4 small2=5", 40, 138), Expected(farming));
  }
  {
    // Count 0: eight unused entries, USN all ones and value 0.
    auto bytes = send("AI2_BONUSROUND_REWARD_REQ count=0 item=abc", 41, 117);
    ASSERT_EQ(bytes.size(), 117u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[2 + 8])), "abc");
    for (size_t i = 0; i < 8; ++i) {
      EXPECT_EQ(U64At(bytes, 2 + 19 + i * 12), ~0ull) << i;
      EXPECT_EQ(U32At(bytes, 2 + 19 + i * 12 + 8), 0u) << i;
    }
  }
  {
    PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ ai3;
    ai3.Entries[2].USN = 42;
    ai3.Entries[2].IsReward = 1;
    EXPECT_EQ(send("AI3_BONUS_CLEARBOX_ITEM usn.2=42 reward.2=1", 42, 82), Expected(ai3));
    EXPECT_TRUE(room.folder().WaitForHostLog("\tusn = 42, Index = 2, IsReward = 1", 5s));
  }
  EXPECT_EQ(send("FINISHED_GAME_PREV u8@8=2", 43, 11).at(10), 2);
  EXPECT_EQ(send("SPEC_RECOMMENDROOM_INGAME_DATA u8@603=1", 46, 606).at(605), 1);
  {
    // 51 entries for 50: the seven trailing values still land in place.
    auto side = std::make_unique<PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY>();
    for (auto& entry : side->Entries) entry.f9 = 2;
    side->f3942[6] = 77;
    side->f30 = 1;
    EXPECT_EQ(send("AUTO_SIDE_CHANGE_TEAM_INFO_NTY f30=1 count=51 f9=2 tail6=77", 47, 3973),
              Expected(*side));
  }
  {
    PROTO_AI_EXTRA_REWARD_REQ extra;
    extra.Entries[1].USN = 9;
    extra.Entries[1].IsReward = 3;
    extra.Entries[1].IsSpecialClear = 1;
    EXPECT_EQ(send("AI_EXTRA_REWARD_REQ usn.1=9 reward.1=3 special.1=1", 52, 91), Expected(extra));
    EXPECT_TRUE(
        room.folder().WaitForHostLog("\tusn = 9, loop = 1, IsReward = 3, IsSpecialClear = 1", 5s));
  }
  {
    PROTO_AI_BOSSTOWER_REWARD_REQ boss;
    for (auto& entry : boss.Entries) {
      entry.USN = 6;
      entry.Large[3] = 200;
      entry.Flag = 1;
    }
    EXPECT_EQ(send("AI_BOSSTOWER_REWARD_REQ usn=6 large3=200 flag=1", 55, 243), Expected(boss));
  }
  {
    PROTO_AI_EXTRA_MIDDLE_REWARD_REQ middle;
    for (int i = 0; i < 8; ++i) middle.USN[i] = 100 + static_cast<uint64_t>(i == 4);
    EXPECT_EQ(send("AI_EXTRA_MIDDLE_REWARD_REQ usn=100 usn.4=101", 56, 75), Expected(middle));
    EXPECT_TRUE(room.folder().WaitForHostLog("\tusn = 101, i = 4", 5s));
  }
  {
    PROTO_INGAME_RESULT_REQ result;
    result.f9 = 1;
    result.f10 = 2;
    result.f12 = 3;
    result.Entries[15].USN = 4;
    result.Entries[15].Value = 5;
    EXPECT_EQ(send("INGAME_RESULT_REQ f9=1 f10=2 f12=3 usn.15=4 value.15=5", 57, 176),
              Expected(result));
  }
  EXPECT_EQ(send("AUTO_MATCH_STARTING_USER_INFO_ACK", 59, 2),
            (std::vector<uint8_t>{kServerIndex, 0}));
}

// Rows that only change host state, ids without a row, and guarded reads
// that fail: nothing reaches the manager before the next marker.
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
  // The console runs the commands in order, so everything the silent rows
  // could have sent would have arrived before the marker. Name what did, so
  // that a failure says which row spoke.
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

// SERVERAPPMSG_RESET_REQ asks the update thread for a reset notice; the
// game end sets the flag and logs entry 10 at level 2 before its record.
TEST(ShellRows, ResetRequestAndGameEndActOnTheHost) {
  Room room;
  ASSERT_TRUE(room.ready());
  ASSERT_TRUE(room.Emit("RESET_REQ"));
  // An idle room runs one frame in 10 s; the notice goes out at the next.
  EXPECT_TRUE(room.folder().WaitForTrace("SendToServerShell id=8 reset resets=1", 12s));
  ASSERT_TRUE(room.Emit("GAMEEND"));
  ASSERT_TRUE(room.Next(IsCopyData(GAMESERVERMSG_GAMEEND)).has_value());
  EXPECT_TRUE(room.folder().WaitForHostLog("[ERROR] " + hosttest::TableText(10), 5s));
}

}  // namespace
