// Module messages the host reads: records built from real module streams,
// the guarded read, and counts beyond a record's capacity.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "message_helpers.h"
#include "protocol/frommodule.h"

namespace {

using namespace proto;
using prototest::TestMessage;
using prototest::Val;

void W64(ILTMessage_Write& w, uint64_t v) {
  w.WriteBits64(v, 64);
}
void W32(ILTMessage_Write& w, uint32_t v) {
  w.WriteBits(v, 32);
}
void W16(ILTMessage_Write& w, uint32_t v) {
  w.WriteBits(v, 16);
}
void W8(ILTMessage_Write& w, uint32_t v) {
  w.WriteBits(v, 8);
}
void W1(ILTMessage_Write& w, bool v) {
  w.WriteBits(v ? 1 : 0, 1);
}

template <typename Record>
std::vector<uint8_t> Bytes(const Record& record) {
  std::vector<uint8_t> out(sizeof(Record));
  std::memcpy(out.data(), &record, sizeof(Record));
  return out;
}

TEST(FromModule, GuardedReadRaisesReadErrorOnlyForThePattern) {
  TestMessage m;
  W32(m.W(), 0x64646463);
  W32(m.W(), 0x64646464);
  EXPECT_EQ(ReadGuardedU32(m.R()), 0x64646463u);
  try {
    ReadGuardedU32(m.R());
    FAIL() << "no exception";
  } catch (const std::exception& e) {  // a standard exception, caught as one
    EXPECT_STREQ(e.what(), "read error");
  }

  // A reader stops at the failing field: the heartbeat value is not taken.
  TestMessage values;
  W32(values.W(), 7);
  W32(values.W(), kReadErrorPattern);
  EXPECT_THROW(ReadModuleValues(values.R()), ReadError);
}

TEST(FromModule, FieldReadersBuildTheirRecords) {
  {
    TestMessage m;  // SERVERAPPMSG_BAN_USER
    W64(m.W(), 0x0102030405060708ull);
    W8(m.W(), 200);
    W8(m.W(), 17);
    PROTO_BAN_USER ban;
    EXPECT_EQ(ReadBanUser(m.R(), ban), 17);
    EXPECT_EQ(Bytes(ban), (std::vector<uint8_t>{200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                0,   8, 7, 6, 5, 4, 3, 2, 1, 0}));
  }
  {
    TestMessage m;  // SERVERAPPMSG_CLAN_STAT_REPORT
    W64(m.W(), 11);
    W64(m.W(), 22);
    W32(m.W(), 33);
    W32(m.W(), 44);
    W32(m.W(), 55);
    CLANSTATREPORTDATA clan;
    clan.tIndex = 4;
    ReadClanStatReport(m.R(), clan);
    const std::vector<uint8_t> expected = {4,  0, 0,  0, 0,  0, 0, 0, 11, 0, 0,  0, 0, 0,
                                           0,  0, 22, 0, 0,  0, 0, 0, 0,  0, 33, 0, 0, 0,
                                           44, 0, 0,  0, 55, 0, 0, 0, 0,  0, 0,  0};
    EXPECT_EQ(Bytes(clan), expected);
  }
  {
    TestMessage m;  // SERVERAPPMSG_MAPLOADING_COMPLETE_NTY_EX
    W64(m.W(), 9);
    W1(m.W(), true);
    W1(m.W(), false);
    W1(m.W(), true);
    W1(m.W(), true);
    W8(m.W(), 48);
    PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY nty;
    EXPECT_EQ(ReadMapLoadingCompleteNtyEx(m.R(), nty), 48);
    EXPECT_EQ(Bytes(nty),
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 9, 0,
                                    0,    0,    0,    0,    0,    0,    1,    0,    1, 1}));
  }
  {
    TestMessage m;  // SERVERAPPMSG_ADDCLIENT
    W64(m.W(), 123456789);
    W32(m.W(), 12);
    W16(m.W(), 5);
    W16(m.W(), 1);
    const AddClientFields add = ReadAddClient(m.R());
    EXPECT_EQ(add.USN, 123456789u);
    EXPECT_EQ(add.idKind, 12u);
    EXPECT_EQ(add.first, 5);
    EXPECT_EQ(add.second, 1);
  }
  {
    TestMessage m;  // SERVERAPPMSG_LOADING_FAILED
    W16(m.W(), 0xFFFF);
    W8(m.W(), 0xFB);
    const LoadingFailedFields failed = ReadLoadingFailed(m.R());
    EXPECT_EQ(failed.tMapIndex, -1);
    EXPECT_EQ(failed.reason, -5);
  }
  {
    TestMessage m;  // SERVERAPPMSG_AI_BOSSTOWER_REWARD_REQ: pairs split over two arrays
    for (int e = 0; e < 8; ++e) {
      W64(m.W(), 1000 + e);
      for (int k = 0; k < 4; ++k) {
        W8(m.W(), 10 * e + k);
        W8(m.W(), 200 + k);
      }
      W1(m.W(), e % 2 == 1);
    }
    PROTO_AI_BOSSTOWER_REWARD_REQ boss;
    ReadAiBosstowerRewardReq(m.R(), boss);
    const auto bytes = Bytes(boss);
    const size_t e7 = 9 + 7 * 29;
    EXPECT_EQ(bytes[e7], 0xEF);      // USN 1007, low byte
    EXPECT_EQ(bytes[e7 + 8], 70);    // first of pair 0
    EXPECT_EQ(bytes[e7 + 11], 73);   // first of pair 3
    EXPECT_EQ(bytes[e7 + 12], 200);  // second of pair 0, as u32
    EXPECT_EQ(bytes[e7 + 24], 203);  // second of pair 3
    EXPECT_EQ(bytes[e7 + 28], 1);    // flag
    EXPECT_EQ(bytes[0], 0xFF);       // prefix untouched
    EXPECT_FALSE(m.R().IsOverrun());
    EXPECT_EQ(m.R().BitsLeft(), 0u);
  }
  {
    GAMEPROTO_SC_REMOVECLIENT remove;
    std::vector<uint8_t> raw(56);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i * 3);
    TestMessage m;
    m.W().WriteData(raw.data(), 56 * 8);
    ReadRemoveClient(m.R(), remove);
    EXPECT_EQ(Bytes(remove), raw);
    EXPECT_EQ(Val(remove.slotIndex), 49 * 3);
  }
}

TEST(FromModule, SurplusEntriesAreDroppedAndTheReaderKeepsItsPlace) {
  // SERVERAPPMSG_AIGACHA_ITEM_INSERT with 12 entries: ten are kept, two are
  // read and dropped, and the slot after them is still found.
  TestMessage m;
  W64(m.W(), 77);
  W32(m.W(), 12);
  for (uint32_t i = 0; i < 12; ++i) {
    W64(m.W(), 500 + i);
    W32(m.W(), 600 + i);
  }
  W8(m.W(), 33);
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
  W64(wild.W(), 1);
  W32(wild.W(), 0xFFFFFFF0u);
  W64(wild.W(), 2);
  W32(wild.W(), 3);
  PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT small;
  const CountAndSlot wildRead = ReadAigachaItemInsert(wild.R(), small);
  EXPECT_EQ(wildRead.count.kept, 10u);
  EXPECT_EQ(Val(small.Entries[0].Value64), 2u);
  EXPECT_TRUE(wild.R().IsOverrun());
}

TEST(FromModule, Ai2BonusRoundFillsUnusedEntries) {
  for (uint32_t count : {0u, 3u, 9u}) {
    TestMessage m;
    W32(m.W(), count);
    m.W().WriteString("ITEM-ID-LONGER-THAN-ELEVEN");
    for (uint32_t i = 0; i < count; ++i) {
      W64(m.W(), 10 + i);
      W32(m.W(), 20 + i);
    }
    W8(m.W(), 0xAA);  // whatever follows must still be in place
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
  W8(w, 0xF0);  // -16
  W32(w, 30);
  W32(w, 34);
  W32(w, 38);
  W32(w, 51);
  for (uint32_t e = 0; e < 51; ++e) {
    W64(w, 9000 + e);
    W8(w, e);
    W32(w, 0x00010000 + e);  // u16: low bytes only
    W32(w, 11);
    W64(w, 0x1111111122222222ull);  // u32: low 32 bits
    W32(w, 17);
    W32(w, 0x1FF);  // u8: 0xFF
    for (uint32_t k = 0; k < 13; ++k) {
      W32(w, 100 + k);
      W32(w, 200 + k);
    }
    W32(w, 72);
    W32(w, 73);
    W32(w, 74);
    W32(w, 0xABCD1234);
  }
  for (uint32_t i = 0; i < 7; ++i) W32(w, 3942 + i);

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
  // The trailing values come after the dropped 51st entry.
  EXPECT_EQ(Val(nty.f3942[0]), 3942u);
  EXPECT_EQ(Val(nty.f3942[6]), 3948u);
  EXPECT_EQ(m.R().BitsLeft(), 0u);
  const auto bytes = Bytes(nty);
  for (size_t i = 42; i < 92; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(bytes[3970], 0);

  // A read error inside an entry abandons the message.
  TestMessage bad;
  W8(bad.W(), 0);
  W32(bad.W(), 1);
  W32(bad.W(), 2);
  W32(bad.W(), 3);
  W32(bad.W(), 1);
  W64(bad.W(), 5);
  W8(bad.W(), 0);
  W32(bad.W(), kReadErrorPattern);
  PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY abandoned;
  EXPECT_THROW(ReadAutoSideChangeTeamInfoNty(bad.R(), abandoned), ReadError);
}

}  // namespace
