// The defaults of records (the offsets are asserted next to the records),
// and the copy of a copy-data payload over them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
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
