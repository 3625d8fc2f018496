// Decoding what hosts send: posted values by meaning, copy-data records by
// field, sizes that are not the catalogue's, and the JSON line.
#include "decode.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/window.h"
#include "protocol/payload.h"
#include "protocol/postedparams.h"
#include "protocol/relayrecords.h"
#include "protocol/rewardrecords.h"

namespace gsmsim {
namespace {

ReceivedMessage Post(int16_t tIndex, uint16_t id, uint32_t l_param) {
  ReceivedMessage m;
  m.kind = ReceivedMessage::Kind::kPost;
  m.msg = WM_GAMESERVERMSG;
  m.w_param = proto::MakePostWParam(tIndex, id);
  m.l_param = l_param;
  return m;
}

ReceivedMessage Send(const proto::CopyDataPayload& payload) {
  ReceivedMessage m;
  m.kind = ReceivedMessage::Kind::kSend;
  m.msg = platform::kWmCopyData;
  m.dw_data = payload.msgID;
  m.data.resize(payload.bytes.size());
  std::memcpy(m.data.data(), payload.bytes.data(), payload.bytes.size());
  return m;
}

std::string Field(const DecodedMessage& d, std::string_view name) {
  const DecodedField* f = d.Find(name);
  return f ? f->json : "<none>";
}

TEST(Decode, PostedValuesByMeaning) {
  // Reason 0 still reads as a failure; of the module values only the low
  // half of the first (0x2345) counts.
  const std::pair<ReceivedMessage, const char*> rows[] = {
      {Post(3, GAMESERVERMSG_LOADING_COMPLETE, proto::MakeLoadingCompleteFailure(7, 5)),
       "GAMESERVERMSG_LOADING_COMPLETE tIndex=3 tMapIndex=7 success=0 reason=5"},
      {Post(0, GAMESERVERMSG_LOADING_COMPLETE, proto::MakeLoadingCompleteSuccess(-1)),
       "GAMESERVERMSG_LOADING_COMPLETE tIndex=0 tMapIndex=-1 success=1"},
      {Post(0, GAMESERVERMSG_LOADING_COMPLETE, proto::MakeLoadingCompleteFailure(2, 0)),
       "GAMESERVERMSG_LOADING_COMPLETE tIndex=0 tMapIndex=2 success=0 reason=0"},
      {Post(199, GAMESERVERMSG_HOST_HEARTBEAT_ACK, proto::MakeHeartbeatAck(3, 0xBEEF)),
       "GAMESERVERMSG_HOST_HEARTBEAT_ACK tIndex=199 userCount=3 heartbeatValue=48879"},
      {Post(1, GAMESERVERMSG_MODULE_VALUES_NTY, proto::MakeModuleValues(0x12345, 7)),
       "GAMESERVERMSG_MODULE_VALUES_NTY tIndex=1 first=9029 second=7"},
      {Post(-1, 20, 0), "UNNAMED_20 tIndex=-1 lParam=0"},
  };
  for (const auto& [message, text] : rows) EXPECT_EQ(DecodedText(DecodeMessage(message)), text);

  ReceivedMessage other;
  other.msg = 0x113;
  const DecodedMessage d = DecodeMessage(other);
  EXPECT_FALSE(d.is_manager_message);
  EXPECT_EQ(d.name, "WM_0x113");
}

TEST(Decode, RecordsByFieldWithTheirSizes) {
  GAMEPROTO_SC_REMOVECLIENT remove;
  remove.f32 = 1002;
  remove.slotIndex = 1;
  remove.f48 = 200;
  auto d = DecodeMessage(Send(proto::MakeRecordPayload(4, remove)));
  EXPECT_EQ(d.record, "GAMEPROTO_SC_REMOVECLIENT");
  EXPECT_EQ(d.size, 58u);
  EXPECT_TRUE(d.problem.empty());
  EXPECT_EQ(DecodedText(d),
            "GAMESERVERMSG_REMOVECLIENT tIndex=4 f32=1002 f40=0 f42=0 f44=0 f48=200 slotIndex=1");

  // Unused AI2 entries keep all-ones USNs; a text stops at its terminator.
  PROTO_AI2_BONUSROUND_REWARD_REQ ai2;
  std::memcpy(ai2.szItemID, "ITEM", 5);
  ai2.Entries[0].USN = 5;
  ai2.Entries[0].Value = 9;
  d = DecodeMessage(Send(proto::MakeRecordPayload(0, ai2)));
  EXPECT_EQ(Field(d, "szItemID"), "\"ITEM\"");
  const std::string unused = "{\"USN\":18446744073709551615,\"Value\":0}";
  std::string entries = "[{\"USN\":5,\"Value\":9}";
  for (int i = 1; i < 8; ++i) entries += "," + unused;
  EXPECT_EQ(Field(d, "Entries"), entries + "]");

  // Counted entries: the count, at most the capacity.
  PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT gacha;
  gacha.Count = 2;
  gacha.Entries[1].Value64 = 64;
  gacha.Entries[1].Value32 = 32;
  d = DecodeMessage(Send(proto::MakeRecordPayload(0, gacha)));
  EXPECT_EQ(Field(d, "Entries"), "[{\"Value64\":0,\"Value32\":0},{\"Value64\":64,\"Value32\":32}]");
  gacha.Count = 4000000000u;
  d = DecodeMessage(Send(proto::MakeRecordPayload(0, gacha)));
  const std::string kept = Field(d, "Entries");
  EXPECT_EQ(std::count(kept.begin(), kept.end(), '{'), 10);

  // The game end: names, counted slots, arrays cut after their last value.
  auto end = std::make_unique<GAMEPROTO_SS_GAMEEND>();
  end->f25 = 2;
  end->f26[0] = 300;
  end->f26[1] = 250;
  end->f26[2] = 99;  // beyond the count
  std::memcpy(end->f127[1], "Bob\"s", 6);
  end->f828[3] = 4;
  end->f2104[0] = -5;
  d = DecodeMessage(Send(proto::MakeRecordPayload(6, *end)));
  EXPECT_EQ(d.size, 109986u);
  EXPECT_EQ(Field(d, "f26"), "[300,250]");
  EXPECT_EQ(Field(d, "f127"), "[\"\",\"Bob\\\"s\"]");
  EXPECT_EQ(Field(d, "f828"), "[0,0,0,4]");
  EXPECT_EQ(Field(d, "f928"), "[]");
  EXPECT_EQ(Field(d, "f2104"), "[-5]");
}

TEST(Decode, PayloadsOfTheirOwnFormAndWrongSizes) {
  auto d = DecodeMessage(Send(proto::MakeInsertCharacterAckPayload(2, 0xFFFFFFFFFFFFFFFEull)));
  EXPECT_EQ(DecodedText(d), "GAMESERVERMSG_INSERTCHARACTER_ACK tIndex=2 USN=18446744073709551614");
  d = DecodeMessage(Send(proto::MakeAutoMatchStartingUserInfoAckPayload(9)));
  EXPECT_EQ(DecodedText(d), "GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO_ACK tIndex=9");

  CLANSTATREPORTDATA clan;
  clan.tIndex = 12;
  clan.f8 = 8;
  clan.f32 = 32;
  d = DecodeMessage(Send(proto::MakeClanStatPayload(clan)));
  EXPECT_EQ(DecodedText(d),
            "GAMESERVERMSG_CLAN_STAT_REPORT tIndex=12 f8=8 f16=0 f24=0 f28=0 f32=32");

  // A short record: decoded over the defaults, and said so.
  PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY nty;
  nty.USN = 77;
  auto payload = proto::MakeRecordPayload(1, nty);
  payload.bytes.resize(6);
  d = DecodeMessage(Send(payload));
  EXPECT_EQ(d.problem, "cbData 6, expected 23");
  EXPECT_EQ(Field(d, "f0"), "4294967295");  // payload bytes 2..5 are the record's f0 default
  EXPECT_EQ(Field(d, "USN"), "18446744073709551615");
  payload.bytes.resize(1);
  d = DecodeMessage(Send(payload));
  EXPECT_FALSE(d.tIndex.has_value());
  EXPECT_TRUE(d.fields.empty());

  // A manager-to-host id in a send to the manager: bytes, noted.
  proto::CopyDataPayload odd{GAMESERVERMSG_START_HOST, {1, 2, 3}};
  d = DecodeMessage(Send(odd));
  EXPECT_EQ(Field(d, "bytes"), "[1,2,3]");
  EXPECT_EQ(d.problem, "not a host-to-manager record");
}

TEST(Decode, JsonLineCarriesTheFields) {
  PROTO_BAN_USER ban;
  ban.BanValue = 3;
  ban.USN = 42;
  const ReceivedMessage m = Send(proto::MakeRecordPayload(5, ban));
  EXPECT_EQ(DecodedJson(m, DecodeMessage(m)),
            "{\"kind\":\"send\",\"msgID\":18,\"name\":\"GAMESERVERMSG_BAN_USER\",\"tIndex\":5,"
            "\"size\":23,\"record\":\"PROTO_BAN_USER\",\"fields\":{\"BanValue\":3,\"USN\":42}}");
  const ReceivedMessage p = Post(0, GAMESERVERMSG_SERVER_READY, 0);
  EXPECT_EQ(DecodedJson(p, DecodeMessage(p)),
            "{\"kind\":\"post\",\"msgID\":23,\"name\":\"GAMESERVERMSG_SERVER_READY\",\"tIndex\":0,"
            "\"wParam\":23,\"lParam\":0,\"fields\":{\"lParam\":0}}");
}

}  // namespace
}  // namespace gsmsim
