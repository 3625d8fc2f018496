// The catalogue's lookups, copy-data payloads and posted-value packing. The
// rows themselves are the catalogue's; what is checked here is the lookup
// logic and that the sizes agree with the records.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "protocol/payload.h"
#include "protocol/postedparams.h"
#include "protocol/relayrecords.h"
#include "protocol/rewardrecords.h"
#include "protocol/serverappmsg.h"

namespace {

using namespace proto;

TEST(Catalogue, LookupsByIdAndNameAgree) {
  for (uint32_t unused : {12u, 60u, uint32_t{GAMESERVERMSG_MAX}, 0x10006u}) {  // no wrap to 6
    EXPECT_EQ(GameServerMsgName(unused), nullptr) << unused;
  }
  std::set<std::string> names;
  for (const GameServerMsgInfo& info : GameServerMsgCatalogue()) {
    EXPECT_TRUE(names.insert(info.name).second) << info.name;
    EXPECT_EQ(GameServerMsgByName(info.name), info.id);
    EXPECT_EQ(FindGameServerMsg(info.id), &info);
  }
  EXPECT_FALSE(GameServerMsgByName("gameservermsg_terminate").has_value());

  // The same number names different messages in each direction, and a name
  // of the other direction is not found.
  EXPECT_STREQ(ServerAppMsgToModuleName(8), "SERVERAPPMSG_RESET");
  EXPECT_STREQ(ServerAppMsgFromModuleName(8), "SERVERAPPMSG_RESET_REQ");
  EXPECT_EQ(ServerAppMsgFromModuleName(14), nullptr);  // ignored from the module
  EXPECT_EQ(ServerAppMsgFromModuleName(255), nullptr);
  EXPECT_EQ(ServerAppMsgFromModuleByName("SERVERAPPMSG_IDLE"), 44);
  EXPECT_EQ(ServerAppMsgToModuleByName("SERVERAPPMSG_SERVER_INFO"), 39);
  EXPECT_FALSE(ServerAppMsgToModuleByName("SERVERAPPMSG_IDLE").has_value());
  EXPECT_FALSE(ServerAppMsgFromModuleByName("SERVERAPPMSG_INIT").has_value());
}

// Records to the manager go out as tIndex (little-endian) and the record;
// the catalogue's size must be that.
template <typename... Records>
void ExpectPrefixedPayloads() {
  auto one = [](auto record) {
    using Record = decltype(record);
    const CopyDataPayload payload = MakeRecordPayload<Record>(-2, record);
    const GameServerMsgInfo* info = FindGameServerMsg(Record::kMsgId);
    ASSERT_NE(info, nullptr) << Record::kName;
    EXPECT_EQ(info->direction, Direction::kToManager) << Record::kName;
    EXPECT_EQ(payload.msgID, Record::kMsgId);
    EXPECT_EQ(payload.bytes.size(), sizeof(Record) + 2) << Record::kName;
    EXPECT_EQ(static_cast<int32_t>(payload.bytes.size()), info->size) << Record::kName;
    EXPECT_EQ(payload.bytes[0], 0xFE);
    EXPECT_EQ(payload.bytes[1], 0xFF);
  };
  (one(Records{}), ...);
}

// Records from the manager: the catalogue's size is the record's.
template <typename Record>
void ExpectInboundRecord(uint32_t id) {
  const GameServerMsgInfo* info = FindGameServerMsg(id);
  ASSERT_NE(info, nullptr) << id;
  EXPECT_EQ(info->direction, Direction::kToHost) << info->name;
  EXPECT_EQ(info->size, int32_t{sizeof(Record)}) << info->name;
}

TEST(Catalogue, CopyDataSizesAgreeWithTheRecords) {
  ExpectPrefixedPayloads<
      GAMEPROTO_SS_GAMEEND, GAMEPROTO_SC_HOST_USER_STAT, PROTO_BAN_USER, GAMEPROTO_SC_HOST_STAT,
      GAMEPROTO_SC_REMOVECLIENT, PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT,
      PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY, GAMEPROTO_SC_SPY_CHANGE,
      PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ, PROTO_AI2_BONUSROUND_REWARD_REQ,
      PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ, PROTO_FINISHED_GAME_PREV,
      PROTO_SPEC_RECOMMENDROOM_INGAME_DATA, PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY,
      PROTO_AI_EXTRA_REWARD_REQ, PROTO_AI_BOSSTOWER_REWARD_REQ, PROTO_AI_EXTRA_MIDDLE_REWARD_REQ,
      PROTO_INGAME_RESULT_REQ>();

  // The three exceptions (the clan report, the two acknowledgements) are
  // checked as they reach the manager (ManagerLinkCopyData).

  ExpectInboundRecord<PROTO_START_HOST>(GAMESERVERMSG_START_HOST);
  ExpectInboundRecord<PROTO_GAME_USER_INFO>(GAMESERVERMSG_INSERTCHARACTER);
  ExpectInboundRecord<PROTO_USER_DISCONNECTED>(GAMESERVERMSG_USER_DISCONNECTED);
  ExpectInboundRecord<PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT>(
      GAMESERVERMSG_AIGACHA_GROUP_RATE_RESULT);
  ExpectInboundRecord<PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT>(
      GAMESERVERMSG_AIGACHA_ITEM_INSERT_RESULT);
  ExpectInboundRecord<stUCCGamePlay>(GAMESERVERMSG_UCC_MAP_LOAD);
  ExpectInboundRecord<RWPM_ADDRESS_TABLE>(GAMESERVERMSG_RWPM_ADDRESS_TABLE);
  ExpectInboundRecord<PROTO_AUTO_MATCH_STARTING_USER_INFO>(
      GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO);
}

// The edges; the common values, and the wParam's edges, are checked where
// the host posts them (tests/dispatch, tests/shell, ManagerLinkPost).
TEST(PostedParams, PackingMatchesTheManagersReading) {
  EXPECT_EQ(MakeLoadingCompleteSuccess(-1), 0xFFFF0000u);
  EXPECT_EQ(LowWord(MakeLoadingCompleteFailure(7, 0)), 0xFFFF);  // still a failure
  EXPECT_EQ(LowWord(MakeLoadingCompleteFailure(7, -128)), 127);  // -1 - (-128)
  EXPECT_EQ(HighWord(MakeLoadingCompleteFailure(7, -128)), 7);
  EXPECT_EQ(UnpackLoadMap(0xFFFFFFFFFFFFFFFFull).tMapIndex, -1);
  EXPECT_EQ(MakeModuleValues(0x12345, 7), 0x00072345u);
  EXPECT_EQ(MakeHeartbeatAck(0x10003, 9), 0x00090003u);
}

}  // namespace
