// Byte images of records built from their fields and their defaults (the
// offsets themselves are asserted next to the records), and the copy of a
// copy-data payload into a record.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "message_helpers.h"
#include "protocol/gameinfo.h"
#include "protocol/managerrecords.h"
#include "protocol/payload.h"
#include "protocol/relayrecords.h"
#include "protocol/rewardrecords.h"

namespace {

using namespace proto;
using prototest::Val;

template <typename Record>
std::vector<uint8_t> Bytes(const Record& record) {
  std::vector<uint8_t> out(sizeof(Record));
  std::memcpy(out.data(), &record, sizeof(Record));
  return out;
}

std::vector<uint8_t> Hex(std::initializer_list<int> values) {
  return std::vector<uint8_t>(values.begin(), values.end());
}

TEST(Records, GoldenBytesOfSmallRecords) {
  PROTO_BAN_USER ban;
  ban.BanValue = 0xAB;
  ban.USN = 0x1122334455667788ull;
  EXPECT_EQ(Bytes(ban), Hex({0xAB, 0,    0,    0,    0,    0,    0,    0,    0,    0, 0,
                             0,    0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0}));

  PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY nty;
  nty.USN = 5;
  nty.Flags[0] = 1;
  EXPECT_EQ(Bytes(nty), Hex({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 5, 0,
                             0,    0,    0,    0,    0,    0,    1,    0,    0, 0}));

  PROTO_FINISHED_GAME_PREV prev;
  prev.f0 = -2;
  prev.f4 = 0x0102;
  prev.f6 = -1;
  prev.f8 = 9;
  EXPECT_EQ(Bytes(prev), Hex({0xFE, 0xFF, 0xFF, 0xFF, 0x02, 0x01, 0xFF, 0xFF, 9}));

  // Natural alignment with zeroed padding.
  CLANSTATREPORTDATA clan;
  clan.tIndex = 0x0203;
  clan.f8 = 1;
  clan.f16 = 2;
  clan.f24 = 3;
  clan.f28 = 4;
  clan.f32 = 5;
  EXPECT_EQ(Bytes(clan), Hex({3, 2, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0,
                              0, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0}));

  PROTO_INSERT_CHARACTER_RESULT result;
  result.USN = 0xA1;
  std::vector<uint8_t> expected(33, 0);
  expected[12] = 0xA1;
  EXPECT_EQ(Bytes(result), expected);
}

TEST(Records, DefaultsOfRecordsBuiltForTheManager) {
  const std::vector<uint8_t> ff8(8, 0xFF);
  auto head = [](const auto& bytes, size_t n) {
    return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
  };

  const auto insert = Bytes(PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT{});
  EXPECT_EQ(head(insert, 8), ff8);
  EXPECT_EQ(insert[8], 0);
  EXPECT_EQ(std::vector<uint8_t>(insert.begin() + 9, insert.begin() + 17), ff8);  // USN
  for (size_t i = 17; i < insert.size(); ++i) EXPECT_EQ(insert[i], 0) << i;

  EXPECT_EQ(head(Bytes(PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ{}), 8), ff8);
  EXPECT_EQ(head(Bytes(PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ{}), 8), ff8);
  EXPECT_EQ(head(Bytes(PROTO_AI_EXTRA_REWARD_REQ{}), 8), ff8);
  EXPECT_EQ(head(Bytes(PROTO_AI_BOSSTOWER_REWARD_REQ{}), 8), ff8);
  EXPECT_EQ(Bytes(PROTO_AI_BOSSTOWER_REWARD_REQ{})[8], 0);

  // A new AI2 request: eight zero bytes, an empty id, entries USN all ones
  // and value 0.
  const auto ai2 = Bytes(PROTO_AI2_BONUSROUND_REWARD_REQ{});
  for (size_t i = 0; i < 19; ++i) EXPECT_EQ(ai2[i], 0) << i;
  for (size_t e = 0; e < 8; ++e) {
    for (size_t b = 0; b < 8; ++b) EXPECT_EQ(ai2[19 + 12 * e + b], 0xFF);
    for (size_t b = 8; b < 12; ++b) EXPECT_EQ(ai2[19 + 12 * e + b], 0);
  }

  const auto middle = Bytes(PROTO_AI_EXTRA_MIDDLE_REWARD_REQ{});
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(middle[i], 0);
  for (size_t i = 9; i < 73; ++i) EXPECT_EQ(middle[i], 0xFF);

  EXPECT_EQ(Bytes(PROTO_USER_DISCONNECTED{}), ff8);

  // All zero when new, whether value-initialised or default-initialised.
  const auto* user = new PROTO_GAME_USER_INFO;
  const auto userBytes = Bytes(*user);
  delete user;
  EXPECT_EQ(userBytes, std::vector<uint8_t>(sizeof(PROTO_GAME_USER_INFO), 0));
  EXPECT_EQ(Bytes(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY{}), std::vector<uint8_t>(3971, 0));
  EXPECT_EQ(Bytes(stUCCGamePlay{}), std::vector<uint8_t>(140, 0));
}

TEST(Records, CopyDataPayloadOverDefaults) {
  // Four bytes of a USN: the high half stays all ones.
  PROTO_USER_DISCONNECTED disc;
  const uint8_t four[] = {0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(CopyPayloadInto(disc, four, sizeof(four)), 4u);
  EXPECT_EQ(Val(disc.USN), 0xFFFFFFFF04030201ull);

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

  const char serial[] = {'A', 'B', 'C', '\0', 'X'};
  EXPECT_EQ(LogSerialFromPayload(serial, sizeof(serial)), "ABC");
  const char unterminated[] = {'Q', 'R', 'S'};
  EXPECT_EQ(LogSerialFromPayload(unterminated, sizeof(unterminated)), "QRS");
  EXPECT_EQ(LogSerialFromPayload(nullptr, 5), "");

  RWPM_ADDRESS_TABLE table;
  table.Address[14][49] = 0x1000;
  EXPECT_EQ(table.At(14, 49), 0x1000u);
  EXPECT_EQ(table.At(14, 50), 0u);
  EXPECT_EQ(table.At(14, -1), 0u);
  EXPECT_EQ(table.At(61, 0), 0u);
}

}  // namespace
