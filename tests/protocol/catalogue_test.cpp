// Message numbers, names, copy-data sizes and posted-value packing.
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

TEST(Catalogue, ManagerIdsAndNamesRoundTrip) {
  EXPECT_STREQ(GameServerMsgName(0), "GAMESERVERMSG_REPORT_HWND");
  EXPECT_STREQ(GameServerMsgName(53), "GAMESERVERMSG_RWPM_ADDRESS_TABLE");
  EXPECT_STREQ(GameServerMsgName(59), "GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO_ACK");
  for (uint32_t unused : {12u, 17u, 20u, 26u, 27u, 28u, 29u, 30u, 31u, 36u, 49u, 50u, 60u}) {
    EXPECT_EQ(GameServerMsgName(unused), nullptr) << unused;
  }
  EXPECT_EQ(GameServerMsgName(GAMESERVERMSG_MAX), nullptr);
  EXPECT_EQ(GameServerMsgName(0x10006), nullptr);  // no wrap to 6

  std::set<std::string> names;
  for (const GameServerMsgInfo& info : GameServerMsgCatalogue()) {
    EXPECT_TRUE(names.insert(info.name).second) << info.name;
    EXPECT_EQ(GameServerMsgByName(info.name), info.id);
    EXPECT_EQ(FindGameServerMsg(info.id), &info);
  }
  EXPECT_FALSE(GameServerMsgByName("GAMESERVERMSG_NOPE").has_value());
  EXPECT_FALSE(GameServerMsgByName("gameservermsg_terminate").has_value());
}

TEST(Catalogue, ModuleIdsAreNumberedPerDirection) {
  // The same number names different messages in each direction.
  EXPECT_STREQ(ServerAppMsgToModuleName(0), "SERVERAPPMSG_INIT");
  EXPECT_STREQ(ServerAppMsgFromModuleName(0), "SERVERAPPMSG_LOADING_COMPLETE");
  EXPECT_STREQ(ServerAppMsgToModuleName(8), "SERVERAPPMSG_RESET");
  EXPECT_STREQ(ServerAppMsgFromModuleName(8), "SERVERAPPMSG_RESET_REQ");
  EXPECT_STREQ(ServerAppMsgToModuleName(14), "SERVERAPPMSG_INSERTCHARACTER");
  EXPECT_EQ(ServerAppMsgFromModuleName(14), nullptr);  // ignored from the module
  EXPECT_STREQ(ServerAppMsgFromModuleName(38), "SERVERAPPMSG_AUTO_SIDE_CHANGE_TEAM_INFO_NTY");
  EXPECT_STREQ(ServerAppMsgFromModuleName(51), "SERVERAPPMSG_AUTO_MATCH_STARTING_USER_INFO_ACK");

  // Every id the module's messages may carry that the host ignores has no name.
  for (uint32_t ignored : {3u,  4u,  5u,  6u,  7u,  10u, 12u, 14u, 16u, 23u, 24u,
                           26u, 35u, 36u, 39u, 41u, 42u, 43u, 45u, 50u, 52u, 255u}) {
    EXPECT_EQ(ServerAppMsgFromModuleName(ignored), nullptr) << ignored;
  }
  EXPECT_EQ(ServerAppMsgFromModuleByName("SERVERAPPMSG_IDLE"), 44);
  EXPECT_EQ(ServerAppMsgToModuleByName("SERVERAPPMSG_SERVER_INFO"), 39);
  // A name of the other direction is not found.
  EXPECT_FALSE(ServerAppMsgToModuleByName("SERVERAPPMSG_IDLE").has_value());
  EXPECT_FALSE(ServerAppMsgFromModuleByName("SERVERAPPMSG_INIT").has_value());
}

// The catalogue's copy-data sizes against the record layouts: record + 2
// with three exceptions.
template <typename Record>
void ExpectPrefixedPayload() {
  const CopyDataPayload payload = MakeRecordPayload<Record>(-2, Record{});
  const GameServerMsgInfo* info = FindGameServerMsg(Record::kMsgId);
  ASSERT_NE(info, nullptr) << Record::kName;
  EXPECT_EQ(info->direction, Direction::kToManager) << Record::kName;
  EXPECT_EQ(payload.msgID, Record::kMsgId);
  EXPECT_EQ(payload.bytes.size(), sizeof(Record) + 2) << Record::kName;
  EXPECT_EQ(static_cast<int32_t>(payload.bytes.size()), info->size) << Record::kName;
  // tIndex first, little-endian.
  EXPECT_EQ(payload.bytes[0], 0xFE);
  EXPECT_EQ(payload.bytes[1], 0xFF);
}

TEST(Catalogue, CopyDataPayloadSizes) {
  ExpectPrefixedPayload<GAMEPROTO_SS_GAMEEND>();
  ExpectPrefixedPayload<GAMEPROTO_SC_HOST_USER_STAT>();
  ExpectPrefixedPayload<PROTO_BAN_USER>();
  ExpectPrefixedPayload<GAMEPROTO_SC_HOST_STAT>();
  ExpectPrefixedPayload<GAMEPROTO_SC_REMOVECLIENT>();
  ExpectPrefixedPayload<PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT>();
  ExpectPrefixedPayload<PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY>();
  ExpectPrefixedPayload<GAMEPROTO_SC_SPY_CHANGE>();
  ExpectPrefixedPayload<PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ>();
  ExpectPrefixedPayload<PROTO_AI2_BONUSROUND_REWARD_REQ>();
  ExpectPrefixedPayload<PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ>();
  ExpectPrefixedPayload<PROTO_FINISHED_GAME_PREV>();
  ExpectPrefixedPayload<PROTO_SPEC_RECOMMENDROOM_INGAME_DATA>();
  ExpectPrefixedPayload<PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY>();
  ExpectPrefixedPayload<PROTO_AI_EXTRA_REWARD_REQ>();
  ExpectPrefixedPayload<PROTO_AI_BOSSTOWER_REWARD_REQ>();
  ExpectPrefixedPayload<PROTO_AI_EXTRA_MIDDLE_REWARD_REQ>();
  ExpectPrefixedPayload<PROTO_INGAME_RESULT_REQ>();

  // The three exceptions.
  CLANSTATREPORTDATA clan;
  clan.tIndex = 7;
  const CopyDataPayload clanPayload = MakeClanStatPayload(clan);
  EXPECT_EQ(clanPayload.msgID, GAMESERVERMSG_CLAN_STAT_REPORT);
  EXPECT_EQ(clanPayload.bytes.size(), 40u);
  EXPECT_EQ(FindGameServerMsg(GAMESERVERMSG_CLAN_STAT_REPORT)->size, 40);
  EXPECT_EQ(clanPayload.bytes[0], 7);

  const CopyDataPayload ack = MakeInsertCharacterAckPayload(3, 0x0102030405060708ull);
  EXPECT_EQ(ack.msgID, GAMESERVERMSG_INSERTCHARACTER_ACK);
  EXPECT_EQ(ack.bytes, (std::vector<uint8_t>{3, 0, 8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(FindGameServerMsg(GAMESERVERMSG_INSERTCHARACTER_ACK)->size, 10);

  const CopyDataPayload autoAck = MakeAutoMatchStartingUserInfoAckPayload(0x0102);
  EXPECT_EQ(autoAck.msgID, GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO_ACK);
  EXPECT_EQ(autoAck.bytes, (std::vector<uint8_t>{2, 1}));
  EXPECT_EQ(FindGameServerMsg(GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO_ACK)->size, 2);
}

// Records from the manager: the catalogue's size is the record's.
template <typename Record>
void ExpectInboundRecord(uint32_t id) {
  const GameServerMsgInfo* info = FindGameServerMsg(id);
  ASSERT_NE(info, nullptr) << id;
  EXPECT_EQ(info->direction, Direction::kToHost) << info->name;
  EXPECT_EQ(info->size, int32_t{sizeof(Record)}) << info->name;
}

TEST(Catalogue, RecordsFromTheManagerMatchTheirCatalogueSizes) {
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
  EXPECT_EQ(FindGameServerMsg(GAMESERVERMSG_RWPM_ADDRESS_TABLE)->transport,
            Transport::kPostedAddress);
  EXPECT_EQ(FindGameServerMsg(GAMESERVERMSG_LOG_SERIAL)->size, kAnyLength);
  EXPECT_EQ(FindGameServerMsg(GAMESERVERMSG_HOST_HEARTBEAT)->direction, Direction::kToHost);
}

TEST(PostedParams, PackingMatchesTheManagersReading) {
  EXPECT_EQ(MakePostWParam(3, 5), 0x00030005u);
  EXPECT_EQ(MakePostWParam(-1, GAMESERVERMSG_ADDCLIENT), 0xFFFF0013u);
  EXPECT_EQ(MakePostWParam(199, 0x12345), 0x00C72345u);  // the id never spills

  EXPECT_EQ(MakeLoadingCompleteSuccess(7), 0x00070000u);
  EXPECT_EQ(MakeLoadingCompleteSuccess(-1), 0xFFFF0000u);
  EXPECT_EQ(LowWord(MakeLoadingCompleteFailure(7, 5)), 0xFFFA);
  EXPECT_EQ(HighWord(MakeLoadingCompleteFailure(7, 5)), 7);
  EXPECT_EQ(LowWord(MakeLoadingCompleteFailure(7, 0)), 0xFFFF);  // still a failure
  EXPECT_EQ(LowWord(MakeLoadingCompleteFailure(7, -128)), 127);  // -1 - (-128)

  const LoadMapParams load = UnpackLoadMap(0x2A010005);
  EXPECT_EQ(load.tMapIndex, 5);
  EXPECT_EQ(load.roundType, 1);
  EXPECT_EQ(load.MatchType, 42);
  EXPECT_EQ(UnpackLoadMap(0xFFFFFFFFFFFFFFFFull).tMapIndex, -1);

  EXPECT_EQ(MakeModuleValues(0x12345, 7), 0x00072345u);
  EXPECT_EQ(MakeHeartbeatAck(0x10003, 9), 0x00090003u);
}

}  // namespace
