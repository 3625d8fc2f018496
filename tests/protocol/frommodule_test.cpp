// Module messages the host reads: the guarded read, counts beyond a
// record's capacity and the fields cut to their record's width. Each
// reader's bytes are checked end to end by ShellRows (tests/shell).
#include <gtest/gtest.h>

#include <algorithm>

#include "message_helpers.h"
#include "protocol/frommodule.h"

namespace {

using namespace proto;
using prototest::TestMessage;
using prototest::Val;

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
  // SERVERAPPMSG_AIGACHA_ITEM_INSERT with 12 entries: ten are kept, two are
  // read and dropped, and the slot after them is still found.
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
  // The trailing values come after the dropped 51st entry.
  EXPECT_EQ(Val(nty.f3942[0]), 3942u);
  EXPECT_EQ(Val(nty.f3942[6]), 3948u);
  EXPECT_EQ(m.R().BitsLeft(), 0u);
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
