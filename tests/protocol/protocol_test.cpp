// Catalogue lookups, posted values, record defaults, and module messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "interface/ltmessage.h"
#include "ltmessage.h"
#include "protocol/frommodule.h"
#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "protocol/payload.h"
#include "protocol/postedparams.h"
#include "protocol/relayrecords.h"
#include "protocol/rewardrecords.h"
#include "protocol/serverappmsg.h"
#include "protocol/tomodule.h"

namespace {

using namespace proto;

// Copies a packed record's field: test macros bind references, which may be misaligned.
template <typename T>
T Val(T value) {
  return value;
}

// A module message (the reference module's bit stream): write with W(), read with R().
class TestMessage {
 public:
  TestMessage() : writer_(refmod::CLTMessageWrite::Create()) { writer_->Acquire(); }
  ~TestMessage() { writer_->Release(); }
  TestMessage(const TestMessage&) = delete;
  TestMessage& operator=(const TestMessage&) = delete;

  ILTMessage_Write& W() { return *writer_; }
  ILTMessage_Read& R() {
    if (reader_ == nullptr) reader_ = writer_->ToReadable();
    return *reader_;
  }
  const std::vector<uint8_t>& Bytes() const { return writer_->Writer().Bytes(); }

 private:
  refmod::CLTMessageWrite* writer_;
  ILTMessage_Read* reader_ = nullptr;
};

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

  // One number names different messages in each direction.
  EXPECT_STREQ(ServerAppMsgToModuleName(8), "SERVERAPPMSG_RESET");
  EXPECT_STREQ(ServerAppMsgFromModuleName(8), "SERVERAPPMSG_RESET_REQ");
  EXPECT_EQ(ServerAppMsgFromModuleName(14), nullptr);  // ignored from the module
  EXPECT_EQ(ServerAppMsgFromModuleName(255), nullptr);
  EXPECT_EQ(ServerAppMsgFromModuleByName("SERVERAPPMSG_IDLE"), 44);
  EXPECT_EQ(ServerAppMsgToModuleByName("SERVERAPPMSG_SERVER_INFO"), 39);
  EXPECT_FALSE(ServerAppMsgToModuleByName("SERVERAPPMSG_IDLE").has_value());
  EXPECT_FALSE(ServerAppMsgFromModuleByName("SERVERAPPMSG_INIT").has_value());
}

// The edges; common values are checked where the host posts them.
TEST(PostedParams, PackingMatchesTheManagersReading) {
  EXPECT_EQ(MakeLoadingCompleteSuccess(-1), 0xFFFF0000u);
  EXPECT_EQ(LowWord(MakeLoadingCompleteFailure(7, 0)), 0xFFFF);  // still a failure
  EXPECT_EQ(LowWord(MakeLoadingCompleteFailure(7, -128)), 127);  // -1 - (-128)
  EXPECT_EQ(HighWord(MakeLoadingCompleteFailure(7, -128)), 7);
  EXPECT_EQ(UnpackLoadMap(0xFFFFFFFFFFFFFFFFull).tMapIndex, -1);
  EXPECT_EQ(MakeModuleValues(0x12345, 7), 0x00072345u);
  EXPECT_EQ(MakeHeartbeatAck(0x10003, 9), 0x00090003u);
}

// A record's bytes as runs, "8*ff 1*00 ...".
template <typename Record>
std::string Runs(const Record& record) {
  uint8_t bytes[sizeof(Record)];
  std::memcpy(bytes, &record, sizeof(Record));
  std::string out;
  for (size_t i = 0; i < sizeof(Record);) {
    size_t n = 1;
    while (i + n < sizeof(Record) && bytes[i + n] == bytes[i]) ++n;
    char run[24];
    std::snprintf(run, sizeof(run), "%s%zu*%02x", out.empty() ? "" : " ", n, bytes[i]);
    out += run;
    i += n;
  }
  return out;
}

TEST(Records, DefaultsOfNewRecords) {
  std::string ai2 = "19*00";
  for (int e = 0; e < 8; ++e) ai2 += " 8*ff 4*00";  // USN all ones, value 0
  // Default-initialised too, not only value-initialised.
  const auto* user = new PROTO_GAME_USER_INFO;
  const std::string userRuns = Runs(*user);
  delete user;
  const std::pair<std::string, std::string> kRows[] = {
      {Runs(PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT{}), "8*ff 1*00 8*ff 124*00"},
      {Runs(PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY{}), "8*ff 1*00 8*ff 4*00"},
      {Runs(PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ{}), "8*ff 128*00"},
      {Runs(PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ{}), "8*ff 72*00"},
      {Runs(PROTO_AI_EXTRA_REWARD_REQ{}), "8*ff 81*00"},
      {Runs(PROTO_AI_BOSSTOWER_REWARD_REQ{}), "8*ff 233*00"},
      {Runs(PROTO_AI_EXTRA_MIDDLE_REWARD_REQ{}), "9*00 64*ff"},
      {Runs(PROTO_AI2_BONUSROUND_REWARD_REQ{}), ai2},
      {Runs(PROTO_USER_DISCONNECTED{}), "8*ff"},
      {userRuns, "4195*00"},
      {Runs(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY{}), "3971*00"},
      {Runs(stUCCGamePlay{}), "140*00"},
  };
  for (const auto& [runs, expected] : kRows) EXPECT_EQ(runs, expected);
}

// Short payloads and the serial's end: DispatchTest's disconnection and log serial tests.
TEST(Records, CopyDataPayloadOverDefaults) {
  // A long payload is cut at the record's size.
  std::vector<uint8_t> longPayload(200, 0x5A);
  stUCCGamePlay ucc;
  EXPECT_EQ(CopyPayloadInto(ucc, longPayload.data(), longPayload.size()), 140u);
  EXPECT_EQ(Val(ucc.MapIndex), 0x5A5A5A5Au);
  EXPECT_EQ(Val(ucc.MapName[127]), 0x5A);

  // Null data copies nothing.
  PROTO_USER_DISCONNECTED untouched;
  EXPECT_EQ(CopyPayloadInto(untouched, nullptr, 8), 0u);
  EXPECT_EQ(Val(untouched.USN), ~uint64_t{0});

  EXPECT_EQ(LogSerialFromPayload(nullptr, 5), "");

  RWPM_ADDRESS_TABLE table;
  table.Address[14][49] = 0x1000;
  EXPECT_EQ(table.At(14, 49), 0x1000u);
  EXPECT_EQ(table.At(14, 50), 0u);
  EXPECT_EQ(table.At(14, -1), 0u);
  EXPECT_EQ(table.At(61, 0), 0u);
}

std::string ReadText(ILTMessage_Read& r) {
  char buffer[64] = {};
  r.ReadString(buffer, sizeof(buffer));
  return buffer;
}

std::unique_ptr<PROTO_START_HOST> SampleStartHost() {
  auto info = std::make_unique<PROTO_START_HOST>();
  info->f1645 = 0xC5;
  info->f121 = 1;
  info->f130 = 7;  // any non-zero byte is true
  info->f131 = -3;
  info->f1650 = 1;
  info->f1651 = 0x101;  // true only when exactly 1, not by its low byte
  info->f49 = 0x49494949;
  info->f39 = -39;
  info->f53 = -53;
  info->f41 = 0x41414141;
  info->f59 = 59;
  info->f63 = 63;
  info->f55 = 55;
  info->f127 = 0x0127;
  info->f67 = -67;
  info->f69 = 69;
  info->f1349 = 1;
  for (int u = 0; u < 50; ++u) info->Users[u].USN = 1000 + u;
  info->f123 = 1.5f;
  info->f129 = 1;
  info->f1350 = -50;
  info->f45 = 45;
  info->f46 = 1;
  info->f132 = 1;
  info->f133[0] = 133;
  info->f133[1] = 137;
  for (int g = 0; g < 3; ++g) {
    for (int e = 0; e < 8; ++e) {
      const std::string text = "g" + std::to_string(g) + "e" + std::to_string(e);
      std::memcpy(info->f1352[g][e].text, text.c_str(), text.size() + 1);
    }
  }
  std::memcpy(info->f1352[2][7].text, "ELEVENCHARS", 11);  // no terminator
  info->f1640[0] = 1;
  info->f1640[2] = 1;
  info->f1640[4] = 1;
  info->f1646 = -1646;
  info->f1648 = 255;  // goes out as 0
  std::memcpy(info->GameLogSerial, "SERIAL-123", 11);
  info->f28 = 28;
  info->f30 = 30;
  info->f47 = 1;
  return info;
}

void ExpectFields(ILTMessage_Read& r, std::initializer_list<std::pair<uint32_t, int64_t>> fields) {
  for (const auto& [nBits, value] : fields) {
    const uint64_t expected = static_cast<uint64_t>(value) & (~uint64_t{0} >> (64 - nBits));
    EXPECT_EQ(r.ReadBits64(nBits), expected) << "field of " << nBits << " bits at " << r.Tell();
  }
}

TEST(ToModule, StartHostStreamOrderAndQuirks) {
  const auto info = SampleStartHost();
  TestMessage m;
  uint32_t bitsAtCallback = 0;
  WriteStartHost(m.W(), *info, [&] { bitsAtCallback = m.W().Size(); });
  ASSERT_FALSE(m.W().HasError());

  ILTMessage_Read& r = m.R();
  // (width, value) in the module's order, negative values sign-extended. The
  // 2nd and 14th are constant false; the 9th is false as 1651 holds 0x101.
  ExpectFields(r, {{8, SERVERAPPMSG_START_HOST}, {1, 0}, {32, 0xC5}, {1, 1}, {1, 0}, {1, 1}});
  ExpectFields(r, {{8, -3}, {1, 1}, {1, 0}, {32, 0x49494949}, {32, -39}, {32, -53}});
  ExpectFields(r, {{32, 0x41414141}, {1, 0}, {32, 59}, {32, 63}, {8, 55}, {16, 0x0127}});
  ExpectFields(r, {{32, -67}, {32, 69}, {1, 1}});
  std::vector<uint8_t> users(sizeof(info->Users));
  r.ReadData(users.data(), static_cast<uint32_t>(users.size() * 8));
  EXPECT_EQ(std::memcmp(users.data(), info->Users, users.size()), 0);
  EXPECT_EQ(r.Tell(), bitsAtCallback);  // the callback ran right after the users
  // 0x3FC00000 is 1.5f.
  ExpectFields(r,
               {{32, 0x3FC00000}, {1, 1}, {8, -50}, {8, 45}, {1, 1}, {1, 1}, {32, 133}, {32, 137}});
  for (int g = 0; g < 3; ++g) {
    for (int e = 0; e < 8; ++e) {
      const std::string expected = (g == 2 && e == 7)
                                       ? std::string("ELEVENCHARS")
                                       : "g" + std::to_string(g) + "e" + std::to_string(e);
      EXPECT_EQ(ReadText(r), expected) << g << "," << e;
    }
  }
  // 1640, 1351, 1641 to 1644, then 255 + 1 in 8 bits.
  ExpectFields(r, {{1, 1}, {1, 0}, {1, 0}, {1, 1}, {1, 0}, {1, 1}, {32, -1646}, {8, 0}});
  EXPECT_EQ(ReadText(r), "SERIAL-123");
  ExpectFields(r, {{16, 28}, {16, 30}, {1, 1}});
  EXPECT_EQ(r.BitsLeft(), 0u);
  EXPECT_FALSE(r.IsOverrun());

  info->f1651 = 1;
  TestMessage one;
  WriteStartHost(one.W(), *info);
  one.R().Seek(8 + 1 + 32 + 1 + 1 + 1 + 8 + 1);
  EXPECT_EQ(one.R().ReadBits(1), 1u);
}

TEST(ToModule, AigachaItemInsertResultCountsIn16BitsButWritesUpToTen) {
  PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT result;
  result.USN = 0x55;
  result.SingleValue = 0xABCD;
  for (uint32_t i = 0; i < 10; ++i) {
    result.Entries[i].Value64 = 100 + i;
    result.Entries[i].Value32 = 0x10000 + i;  // only the low 16 bits go out
    result.Values[i] = 200 + i;
  }

  result.Count = 2;
  {
    TestMessage m;
    const EntryCount count = WriteAigachaItemInsertResult(m.W(), result);
    EXPECT_FALSE(count.Truncated());
    const std::vector<uint8_t> expected = {
        24,                                                // id
        0x55, 0,    0, 0, 0,   0, 0, 0,                    // USN
        2,    0,                                           // count (16 bits)
        0xCD, 0xAB, 0, 0,                                  // single value
        200,  0,    0, 0, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // entry 0
        201,  0,    0, 0, 101, 0, 0, 0, 0, 0, 0, 0, 1, 0,  // entry 1
        0xFF};                                             // end marker
    EXPECT_EQ(m.Bytes(), expected);
  }

  // 0x10003 goes out as 3 in 16 bits; the entries follow the full count, cut to ten.
  result.Count = 0x10003;
  TestMessage m;
  const EntryCount count = WriteAigachaItemInsertResult(m.W(), result);
  EXPECT_EQ(count.declared, 0x10003u);
  EXPECT_EQ(count.kept, 10u);
  EXPECT_TRUE(count.Truncated());
  ILTMessage_Read& r = m.R();
  r.Seek(8 + 64);
  EXPECT_EQ(r.ReadBits(16), 3u);
  EXPECT_EQ(m.Bytes().size(), 1 + 8 + 2 + 4 + 10 * 14 + 1u);
  EXPECT_EQ(m.Bytes().back(), 0xFF);
}

TEST(ToModule, AigachaGroupRateResultStaysInsideTheRecord) {
  PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT result;
  result.Count = 31;
  result.Entries[29].First = 0x2929;
  result.Entries[29].Rates[3] = -0.25;
  TestMessage m;
  const EntryCount count = WriteAigachaGroupRateResult(m.W(), result);
  EXPECT_EQ(count.declared, 31u);
  EXPECT_EQ(count.kept, 30u);
  ILTMessage_Read& r = m.R();
  EXPECT_EQ(r.ReadBits(8), SERVERAPPMSG_AIGACHA_GROUP_RATE_RESULT);
  EXPECT_EQ(r.ReadBits(32), 30u);  // the count that matches the entries
  r.Seek(8 + 32 + 29 * 320);
  EXPECT_EQ(r.ReadBits(32), 0x2929u);
  r.ReadBits(32);
  for (int k = 0; k < 3; ++k) r.ReadBits64(64);
  EXPECT_EQ(std::bit_cast<double>(r.ReadBits64(64)), -0.25);
  EXPECT_EQ(r.BitsLeft(), 0u);
}

TEST(ToModule, SmallMessagesGoldenBytes) {
  auto bytes = [](const std::function<void(ILTMessage_Write&)>& write) {
    TestMessage m;
    write(m.W());
    return m.Bytes();
  };
  using B = std::vector<uint8_t>;
  EXPECT_EQ(bytes([](auto& w) { WriteServerInfo(w, 0x01020304, 7); }),
            (B{39, 4, 3, 2, 1, 7, 0, 0, 0}));
  EXPECT_EQ(bytes([](auto& w) { WriteUserDisconnected(w, ~uint64_t{0}); }),
            (B{16, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(bytes([](auto& w) { WriteLogSerial(w, "AB"); }), (B{43, 'A', 'B', 0}));
  EXPECT_EQ(bytes([](auto& w) { WriteSpectatorRecommendRoomSelectNty(w, 0x9C); }), (B{36, 0x9C}));
  EXPECT_EQ(bytes([](auto& w) { WriteReset(w); }), (B{8}));
  // INIT: 16-bit map index, round type, load flag, cFixed (-1 by default),
  // match type, the second flag; no check byte by default.
  EXPECT_EQ(bytes([](auto& w) {
              PROTO_SERVERAPPMSG_INIT init;
              init.tMapIndex = 5;
              init.roundType = 42;
              init.bLoad = true;
              init.MatchType = 3;
              WriteServerAppMsgInit(w, init);
            }),
            (B{0, 5, 0, 42, 0xFF, 0x07, 0x00}));
  TestMessage m;
  WriteAdditionalRoomInfo(m.W(), true);
  EXPECT_EQ(m.W().Size(), 9u);
  EXPECT_EQ(m.Bytes(), (B{45, 1}));
}

TEST(ToModule, CheckByteTrailerWhenSwitchedOn) {
  // The reader swaps the nibbles of the first key, the writer does not: keys
  // whose nibbles are equal pass, others fail and clear the valid flag.
  for (uint8_t key1 : {uint8_t{0x33}, uint8_t{0x12}}) {
    PROTO_SERVERAPPMSG_INIT out;
    out.bUseCheckByte = 1;
    out.byCheckKey1 = key1;
    out.byCheckKey2 = 2;
    out.cStreamCheckValue = 3;
    TestMessage m;
    EXPECT_TRUE(out.Write(m.W()));
    EXPECT_EQ(m.W().Size(), 50u);  // 42 bits of fields and the check byte

    PROTO_SERVERAPPMSG_INIT in = out;  // the same keys and switch
    const bool expectValid = key1 == 0x33;
    EXPECT_EQ(in.Read(m.R()), expectValid) << int{key1};
    EXPECT_EQ(in.bCheckPassed, expectValid ? 1u : 0u);
    EXPECT_EQ(in.IsValid(), expectValid);
  }
}

// Writes (value, width) fields in order, as the module would.
void Put(ILTMessage_Write& w, std::initializer_list<std::pair<uint64_t, uint32_t>> fields) {
  for (const auto& [value, nBits] : fields) w.WriteBits64(value, nBits);
}

TEST(FromModule, GuardedReadRaisesReadErrorOnlyForThePattern) {
  TestMessage m;
  Put(m.W(), {{0x64646463, 32}, {0x64646464, 32}});
  EXPECT_EQ(ReadGuardedU32(m.R()), 0x64646463u);
  try {
    ReadGuardedU32(m.R());
    FAIL() << "no exception";
  } catch (const std::exception& e) {  // a standard exception, caught as one
    EXPECT_STREQ(e.what(), "read error");
  }

  // A reader stops at the failing field: the heartbeat value is not taken.
  TestMessage values;
  Put(values.W(), {{7, 32}, {kReadErrorPattern, 32}});
  EXPECT_THROW(ReadModuleValues(values.R()), ReadError);
}

TEST(FromModule, SurplusEntriesAreDroppedAndTheReaderKeepsItsPlace) {
  // Twelve entries: ten kept, two read and dropped, the slot after them found.
  TestMessage m;
  Put(m.W(), {{77, 64}, {12, 32}});
  for (uint32_t i = 0; i < 12; ++i) Put(m.W(), {{500 + i, 64}, {600 + i, 32}});
  m.W().WriteBits64(33, 8);
  PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT insert;
  const CountAndSlot read = ReadAigachaItemInsert(m.R(), insert);
  EXPECT_EQ(read.count.declared, 12u);
  EXPECT_EQ(read.count.kept, 10u);
  EXPECT_TRUE(read.count.Truncated());
  EXPECT_EQ(EntryCountText("SERVERAPPMSG_AIGACHA_ITEM_INSERT", read.count),
            "SERVERAPPMSG_AIGACHA_ITEM_INSERT: entry count 12 above the record's 10, 2 entries "
            "dropped");
  EXPECT_EQ(read.slotIndex, 33);
  EXPECT_EQ(Val(insert.Count), 10u);
  EXPECT_EQ(Val(insert.Entries[9].Value64), 509u);
  EXPECT_EQ(Val(insert.Entries[9].Value32), 609u);
  EXPECT_EQ(Val(insert.USN), 77u);
  EXPECT_FALSE(m.R().IsOverrun());

  // A count far beyond the stream stops at its end instead of spinning.
  TestMessage wild;
  Put(wild.W(), {{1, 64}, {0xFFFFFFF0u, 32}, {2, 64}, {3, 32}});
  PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT small;
  const CountAndSlot wildRead = ReadAigachaItemInsert(wild.R(), small);
  EXPECT_EQ(wildRead.count.kept, 10u);
  EXPECT_EQ(Val(small.Entries[0].Value64), 2u);
  EXPECT_TRUE(wild.R().IsOverrun());
}

TEST(FromModule, Ai2BonusRoundFillsUnusedEntries) {
  for (uint32_t count : {0u, 3u, 9u}) {
    TestMessage m;
    m.W().WriteBits64(count, 32);
    m.W().WriteString("ITEM-ID-LONGER-THAN-ELEVEN");
    for (uint32_t i = 0; i < count; ++i) Put(m.W(), {{10 + i, 64}, {20 + i, 32}});
    m.W().WriteBits64(0xAA, 8);  // whatever follows must still be in place
    PROTO_AI2_BONUSROUND_REWARD_REQ req;
    req.Entries[7].USN = 5;  // stale data in an unused entry is reset
    req.Entries[7].Value = 5;
    const EntryCount read = ReadAi2BonusRoundRewardReq(m.R(), req);
    EXPECT_EQ(read.kept, std::min(count, 8u));
    EXPECT_STREQ(req.szItemID, "ITEM-ID-LO");  // cut to 10 characters and a terminator
    for (uint32_t i = 0; i < 8; ++i) {
      if (i < read.kept) {
        EXPECT_EQ(Val(req.Entries[i].USN), 10u + i);
        EXPECT_EQ(Val(req.Entries[i].Value), 20u + i);
      } else {
        EXPECT_EQ(Val(req.Entries[i].USN), ~uint64_t{0}) << count << "/" << i;
        EXPECT_EQ(Val(req.Entries[i].Value), 0u);
      }
    }
    EXPECT_EQ(m.R().ReadBits(8), 0xAAu) << count;
  }
}

TEST(FromModule, AutoSideChangeTeamInfoKeepsLowBytesAndCapsAtFifty) {
  TestMessage m;
  ILTMessage_Write& w = m.W();
  Put(w, {{0xF0, 8} /* -16 */, {30, 32}, {34, 32}, {38, 32}, {51, 32}});
  for (uint32_t e = 0; e < 51; ++e) {
    // A u16, a u32 and a u8 field keep their low bytes only.
    Put(w, {{9000 + e, 64}, {e, 8}, {0x00010000 + e, 32}, {11, 32}});
    Put(w, {{0x1111111122222222ull, 64}, {17, 32}, {0x1FF, 32}});
    for (uint32_t k = 0; k < 13; ++k) Put(w, {{100 + k, 32}, {200 + k, 32}});
    Put(w, {{72, 32}, {73, 32}, {74, 32}, {0xABCD1234, 32}});
  }
  for (uint32_t i = 0; i < 7; ++i) w.WriteBits64(3942 + i, 32);

  PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY nty;
  const EntryCount read = ReadAutoSideChangeTeamInfoNty(m.R(), nty);
  EXPECT_EQ(read.declared, 51u);
  EXPECT_EQ(read.kept, 50u);
  EXPECT_EQ(Val(nty.f29), -16);
  EXPECT_EQ(Val(nty.f38), 38u);
  EXPECT_EQ(Val(nty.Entries[49].USN), 9049u);
  EXPECT_EQ(Val(nty.Entries[49].f9), 49);
  EXPECT_EQ(Val(nty.Entries[49].f13), 0x22222222u);
  EXPECT_EQ(Val(nty.Entries[49].f19), 0xFF);
  EXPECT_EQ(Val(nty.Entries[49].f20[12]), 112);
  EXPECT_EQ(Val(nty.Entries[49].f46[12]), 212);
  EXPECT_EQ(Val(nty.Entries[49].f75), 0x1234);
  EXPECT_EQ(m.R().BitsLeft(), 0u);  // the trailing values land in place: ShellRows
  const auto* bytes = reinterpret_cast<const uint8_t*>(&nty);
  for (size_t i = 42; i < 92; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(bytes[3970], 0);

  // A read error inside an entry abandons the message.
  TestMessage bad;
  Put(bad.W(),
      {{0, 8}, {1, 32}, {2, 32}, {3, 32}, {1, 32}, {5, 64}, {0, 8}, {kReadErrorPattern, 32}});
  PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY abandoned;
  EXPECT_THROW(ReadAutoSideChangeTeamInfoNty(bad.R(), abandoned), ReadError);
}

}  // namespace
