// gsmsim in process: the scenario steps and refusals the demo does not run,
// the records built for the host, the ini edits of a room, and the decoding
// of what hosts send.
#include <gtest/gtest.h>

#include <cstring>

#include "decode.h"
#include "outgoing.h"
#include "platform/window.h"
#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "protocol/payload.h"
#include "protocol/postedparams.h"
#include "protocol/relayrecords.h"
#include "protocol/rewardrecords.h"
#include "room_runner.h"
#include "scenario.h"
#include "support/scratch.h"

namespace gsmsim {
namespace {

template <typename T>
T Read(const std::vector<std::byte>& bytes, size_t offset) {
  T value{};
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

// The demo scenario's steps are run end to end by GsmsimRun; here the forms
// it does not use.
TEST(Scenario, StepsTheDemoDoesNotUse) {
  std::string error;
  const auto s = ParseScenario(
      "# comment\n\n  load-map -1 255 0  \r\n"
      "post SPECTATOR_RECOMMEND_ROOM_SELECT_NTY 0x1FF\npost 3\n"
      "disconnect address 0x1122334455667788\n"
      "address-table Address[6][0]=4096\n"
      "send GAMESERVERMSG_USER_DISCONNECTED copy USN=1 cbData=4\n"
      "log-serial \"A B\"\n"
      "expect 20\nexpect SERVER_READY\nroom 1\nroom all\n",
      &error);
  ASSERT_TRUE(s) << error;
  ASSERT_EQ(s->steps.size(), 11u);
  EXPECT_EQ(s->steps[0].line, 3);
  EXPECT_EQ(s->steps[0].text, "load-map -1 255 0");
  EXPECT_EQ(s->steps[0].l_param, 0x00FFFFFF);  // map -1 keeps to its 16 bits
  EXPECT_EQ(s->steps[1].msg_id, GAMESERVERMSG_SPECTATOR_RECOMMEND_ROOM_SELECT_NTY);
  EXPECT_EQ(s->steps[1].l_param, 0x1FF);
  EXPECT_EQ(s->steps[2].msg_id, 3);  // a wrong-direction id may be posted on purpose
  EXPECT_EQ(s->steps[2].kind, ScenarioStep::Kind::kPost);

  EXPECT_TRUE(s->steps[3].by_address);
  ASSERT_EQ(s->steps[3].record.bytes.size(), 8u);
  EXPECT_EQ(Read<uint64_t>(s->steps[3].record.bytes, 0), 0x1122334455667788u);
  EXPECT_TRUE(s->steps[4].by_address);
  EXPECT_EQ(Read<uint64_t>(s->steps[4].record.bytes, (6 * IPC_ROOM_MAX_USER) * 8), 4096u);
  EXPECT_FALSE(s->steps[5].by_address);
  EXPECT_EQ(s->steps[5].record.bytes.size(), 4u);  // a short USN for the host to default
  const auto& serial = s->steps[6].record.bytes;   // the text with its terminator
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(serial.data()), serial.size()),
            std::string("A B\0", 4));

  EXPECT_EQ(s->steps[7].expect_name, "UNNAMED_20");
  EXPECT_EQ(s->steps[8].expect_name, "GAMESERVERMSG_SERVER_READY");
  EXPECT_EQ(s->steps[8].wait_ms, kDefaultExpectMs);
  EXPECT_EQ(s->steps[9].room, 1);
  EXPECT_EQ(s->steps[10].room, -1);
  EXPECT_FALSE(s->uses_console);
}

TEST(Scenario, BadLinesNameTheirLineAndReason) {
  testsupport::SetEnv("GSMSIM_TEST_UNSET", nullptr);
  const std::pair<const char*, const char*> rows[] = {
      {"heartbeat\n\nfly away\n", "line 3: unknown step \"fly\""},
      {"heartbeat now", "line 1: \"heartbeat\" takes no arguments"},
      {"load-map 5 256 0", "line 1: ROUND and MATCH must be 0 to 255"},
      {"load-map 70000 1 0", "line 1: MAP must be a 16-bit value"},
      {"load-map 5 1", "line 1: usage: load-map MAP ROUND MATCH"},
      {"start-host USN=1", "line 1: \"start-host\" needs copy or address"},
      {"start-host copy Nope=1", "line 1: Nope: no field \"Nope\""},
      {"start-host copy Users[50].USN=1",
       "line 1: Users[50].USN: index 50 of \"Users\" is above its 49"},
      {"start-host copy Users.USN=1", "line 1: Users.USN: \"Users\" takes 1 index(es)"},
      {"start-host copy Users[0]=1", "line 1: Users[0]: \"Users\" needs a member (Users[i].NAME)"},
      {"start-host copy f133[x]=1", "line 1: f133[x]: bad index in \"f133[x]\""},
      {"start-host copy f0.x=1", "line 1: f0.x: unexpected \".x\" after \"f0\""},
      {"start-host copy f123=fast", "line 1: f123: \"fast\" is not a number"},
      {"start-host copy f28=65536", "line 1: f28: 65536 does not fit 16 bits"},
      {"start-host copy f28=1x", "line 1: f28: \"1x\" is not an integer"},
      {"start-host copy cbData=4194305", "line 1: cbData must be 0 to 4194304"},
      {"insert-character copy TeamIdx=256", "line 1: TeamIdx: 256 does not fit 8 bits"},
      {"insert-character copy TeamIdx=-129", "line 1: TeamIdx: -129 does not fit 8 bits"},
      {"insert-character copy FirstText=123456789012345678901x",
       "line 1: FirstText: text of 22 bytes does not fit 21"},
      {"insert-character copy USN", "line 1: \"USN\" is not FIELD=VALUE"},
      {"address-table Address[61][0]=1",
       "line 1: Address[61][0]: index 61 of \"Address\" is above its 60"},
      {"address-table Address[0][50]=1",
       "line 1: Address[0][50]: index 50 of \"Address\" is above its 49"},
      {"log-serial \"open", "line 1: unterminated quote"},
      {"log-serial ${GSMSIM_TEST_UNSET}",
       "line 1: environment variable \"GSMSIM_TEST_UNSET\" is not set"},
      {"log-serial ${GSMSIM_TEST_UNSET", "line 1: unterminated ${"},
      {"ucc-map-load 1 2 3 x address", "line 1: usage: ucc-map-load MAP ROUND MATCH PACKAGE"},
      {"send GAMESERVERMSG_LOG_SERIAL address text=x",
       "line 1: GAMESERVERMSG_LOG_SERIAL travels by copy data only"},
      {"send GAMESERVERMSG_LOG_SERIAL copy serial=1",
       "line 1: GAMESERVERMSG_LOG_SERIAL takes text=VALUE"},
      {"send GAMESERVERMSG_GAMEEND copy",
       "line 1: GAMESERVERMSG_GAMEEND is not a manager-to-host record"},
      {"expect GAMESERVERMSG_NOPE", "line 1: unknown message \"GAMESERVERMSG_NOPE\""},
      {"expect 61", "line 1: unknown message \"61\""},
      {"expect SERVER_READY within", "line 1: within needs MS (0 to 3600000)"},
      {"wait -5", "line 1: MS must be 0 to 3600000"},
      {"room 200", "line 1: room must be 0 to 199 or all"},
      {"ini ../Setting.ini LogInfo LogLevel 5",
       "line 1: FILE must be a plain file name in the room's folder"},
      {"console", "line 1: usage: console TEXT"},
  };
  for (const auto& [text, expected] : rows) {
    std::string error;
    EXPECT_FALSE(ParseScenario(text, &error)) << text;
    EXPECT_EQ(error, expected);
  }
  std::string error;
  EXPECT_FALSE(LoadScenario("/nonexistent/x.gsm", &error));
  EXPECT_EQ(error, "cannot open /nonexistent/x.gsm");
}

TEST(Scenario, SplitWordsHonoursQuotes) {
  EXPECT_EQ(SplitWords("a  \"b c\" d\"e f\"g \"q\\\"x\\\\\" \"\""),
            (std::vector<std::string>{"a", "b c", "de fg", "q\"x\\", ""}));
}

TEST(OutgoingRecord, FieldsLandAtTheRecordsOffsetsOverItsDefaults) {
  std::string error;
  const std::vector<std::string> start{"f123=1.5",
                                       "f1352[2][7].text=ABCDEFGHIJK",
                                       "f1352[0][1].f0=9",
                                       "Users[49].f78[6].second=-2",
                                       "Users[1].f134[49][15]=0xFF",
                                       "f8=-1",
                                       "f4=4294967295"};
  const auto record = BuildOutgoingRecord(GAMESERVERMSG_START_HOST, start, &error);
  ASSERT_TRUE(record) << error;
  const auto& b = record->bytes;
  EXPECT_EQ(Read<float>(b, offsetof(PROTO_START_HOST, f123)), 1.5f);
  // Entry [2][7] of 12-byte entries; its text fills all 11 bytes.
  const size_t entry = offsetof(PROTO_START_HOST, f1352) + (2 * 8 + 7) * 12;
  EXPECT_EQ(std::memcmp(b.data() + entry + 1, "ABCDEFGHIJK", 11), 0);
  EXPECT_EQ(Read<uint8_t>(b, offsetof(PROTO_START_HOST, f1352) + 12), 9);
  const size_t user49 = offsetof(PROTO_START_HOST, Users) + 49 * sizeof(PROTO_GAME_USER_INFO);
  EXPECT_EQ(Read<int32_t>(b, user49 + offsetof(PROTO_GAME_USER_INFO, f78) + 6 * 8 + 4), -2);
  EXPECT_EQ(user49 + sizeof(PROTO_GAME_USER_INFO), b.size());
  const size_t user1 = offsetof(PROTO_START_HOST, Users) + sizeof(PROTO_GAME_USER_INFO);
  EXPECT_EQ(Read<uint8_t>(b, user1 + offsetof(PROTO_GAME_USER_INFO, f134) + 49 * 16 + 15), 0xFF);
  EXPECT_EQ(Read<int32_t>(b, offsetof(PROTO_START_HOST, f8)), -1);
  EXPECT_EQ(Read<uint32_t>(b, offsetof(PROTO_START_HOST, f4)), 0xFFFFFFFFu);

  // Defaults stay where nothing was set: the disconnect USN is all ones;
  // cbData pads with zeros as well as it cuts.
  const auto padded = BuildOutgoingRecord(GAMESERVERMSG_USER_DISCONNECTED,
                                          std::vector<std::string>{"cbData=10"}, &error);
  ASSERT_TRUE(padded) << error;
  EXPECT_EQ(padded->bytes.size(), 10u);
  EXPECT_EQ(Read<uint64_t>(padded->bytes, 0), ~uint64_t{0});
  EXPECT_EQ(Read<uint16_t>(padded->bytes, 8), 0);
}

TEST(IniEdit, ReplacesAddsAndCreatesKeysAndSections) {
  const std::string text =
      "; head\n[LogInfo]\nLogLevel=4\n; LogLevel=9 stays a comment\n\n[Other]\nKey=1\n";
  EXPECT_EQ(SetIniValue(text, "loginfo", "LOGLEVEL", "5"),
            "; head\r\n[LogInfo]\r\nLOGLEVEL=5\r\n; LogLevel=9 stays a comment\r\n\r\n"
            "[Other]\r\nKey=1\r\n");
  EXPECT_EQ(SetIniValue(text, "LogInfo", "IPCMsg", "1"),
            "; head\r\n[LogInfo]\r\nLogLevel=4\r\n; LogLevel=9 stays a comment\r\nIPCMsg=1\r\n"
            "\r\n[Other]\r\nKey=1\r\n");
  EXPECT_EQ(SetIniValue("", "Module", "PreparingUpdates", "1"),
            "[Module]\r\nPreparingUpdates=1\r\n");
}

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

// The answers of the demo are decoded end to end by GsmsimRun; here the
// values and records it does not produce.
TEST(Decode, PostedValuesByMeaning) {
  // Reason 0 still reads as a failure; of the module values only the low
  // half of the first (0x2345) counts.
  const std::pair<ReceivedMessage, const char*> rows[] = {
      {Post(3, GAMESERVERMSG_LOADING_COMPLETE, proto::MakeLoadingCompleteFailure(7, 5)),
       "GAMESERVERMSG_LOADING_COMPLETE tIndex=3 tMapIndex=7 success=0 reason=5"},
      {Post(0, GAMESERVERMSG_LOADING_COMPLETE, proto::MakeLoadingCompleteFailure(-1, 0)),
       "GAMESERVERMSG_LOADING_COMPLETE tIndex=0 tMapIndex=-1 success=0 reason=0"},
      {Post(1, GAMESERVERMSG_MODULE_VALUES_NTY, proto::MakeModuleValues(0x12345, 7)),
       "GAMESERVERMSG_MODULE_VALUES_NTY tIndex=1 first=9029 second=7"},
  };
  for (const auto& [message, text] : rows) EXPECT_EQ(DecodedText(DecodeMessage(message)), text);
}

TEST(Decode, RecordsByFieldAndPayloadsOfWrongSizes) {
  // Counted entries: the count, at most the capacity.
  PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT gacha;
  gacha.Count = 2;
  gacha.Entries[1].Value64 = 64;
  gacha.Entries[1].Value32 = 32;
  auto d = DecodeMessage(Send(proto::MakeRecordPayload(0, gacha)));
  EXPECT_EQ(Field(d, "Entries"), "[{\"Value64\":0,\"Value32\":0},{\"Value64\":64,\"Value32\":32}]");
  gacha.Count = 4000000000u;
  d = DecodeMessage(Send(proto::MakeRecordPayload(0, gacha)));
  const std::string kept = Field(d, "Entries");
  EXPECT_EQ(std::count(kept.begin(), kept.end(), '{'), 10);

  // The game end: names, arrays cut after their last value.
  auto end = std::make_unique<GAMEPROTO_SS_GAMEEND>();
  std::memcpy(end->f127[1], "Bob\"s", 6);
  end->f828[3] = 4;
  end->f2104[0] = -5;
  d = DecodeMessage(Send(proto::MakeRecordPayload(6, *end)));
  EXPECT_EQ(Field(d, "f127"), "[\"\",\"Bob\\\"s\"]");
  EXPECT_EQ(Field(d, "f828"), "[0,0,0,4]");
  EXPECT_EQ(Field(d, "f928"), "[]");
  EXPECT_EQ(Field(d, "f2104"), "[-5]");

  // The clan report carries its tIndex in the record itself.
  CLANSTATREPORTDATA clan;
  clan.tIndex = 12;
  clan.f8 = 8;
  clan.f32 = 32;
  d = DecodeMessage(Send(proto::MakeClanStatPayload(clan)));
  EXPECT_EQ(DecodedText(d),
            "GAMESERVERMSG_CLAN_STAT_REPORT tIndex=12 f8=8 f16=0 f24=0 f28=0 f32=32");

  PROTO_BAN_USER ban;
  ban.BanValue = 3;
  ban.USN = 42;
  const ReceivedMessage m = Send(proto::MakeRecordPayload(5, ban));
  EXPECT_EQ(DecodedJson(m, DecodeMessage(m)),
            "{\"kind\":\"send\",\"msgID\":18,\"name\":\"GAMESERVERMSG_BAN_USER\",\"tIndex\":5,"
            "\"size\":23,\"record\":\"PROTO_BAN_USER\",\"fields\":{\"BanValue\":3,\"USN\":42}}");

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
  d = DecodeMessage(Send(proto::CopyDataPayload{GAMESERVERMSG_START_HOST, {1, 2, 3}}));
  EXPECT_EQ(Field(d, "bytes"), "[1,2,3]");
  EXPECT_EQ(d.problem, "not a host-to-manager record");
}

}  // namespace
}  // namespace gsmsim
