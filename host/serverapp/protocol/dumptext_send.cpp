// The "[SEND]" dumps: records the host builds for the manager.
#include <algorithm>

#include "protocol/dumptext.h"
#include "protocol/dumpvalues.h"

namespace proto {
namespace {

template <typename Record>
std::string Line(std::string_view tag, int16_t tIndex, const RecordDump& d) {
  return DumpLine(tag, tIndex, Record::kName, d.Values().Text());
}

}  // namespace

std::string DumpText(std::string_view tag, int16_t tIndex, const GAMEPROTO_SC_REMOVECLIENT& r) {
  RecordDump d(r);
  d.u8(49).i64(32).u16(40).u16(42).u32(44).u8(48);
  return Line<GAMEPROTO_SC_REMOVECLIENT>(tag, tIndex, d);
}

std::string DumpText(std::string_view tag, int16_t tIndex, const GAMEPROTO_SS_GAMEEND& r) {
  RecordDump d(r);
  d.u8(24).u8(25);
  const size_t listed = d.Get<uint8_t>(25);
  for (size_t i = 0; i < 50 && i < listed; ++i) d.u16(26 + 2 * i);
  d.u8(126);
  for (size_t i = 0; i < 50; ++i) {
    d.i64(2104 + 8 * i).text(127 + 14 * i, 14);
    d.u16(828 + 2 * i).u16(928 + 2 * i).u16(1028 + 2 * i).u16(1128 + 2 * i).u16(1228 + 2 * i);
    d.u32(1580 + 4 * i).u16(1880 + 2 * i).u16(1980 + 2 * i);
  }
  d.i32(2080).i8(2084).i32(2088).i32(2092).i32(2096);
  return Line<GAMEPROTO_SS_GAMEEND>(tag, tIndex, d);
}

std::string DumpText(std::string_view tag, int16_t tIndex, const GAMEPROTO_SC_HOST_USER_STAT& r) {
  RecordDump d(r);
  d.i64(48).u8(1957).u16(24).u16(26).u16(28).u16(30).u16(32).i32(36).i32(40);
  d.u8(56).u8(59).text(60, 16).i32(76).i8(80);
  for (size_t i = 0; i < 7; ++i) d.u16(82 + 2 * i);
  for (size_t i = 0; i < 13; ++i) d.u16(96 + 2 * i).u16(122 + 2 * i);
  d.u8(148).u8(149).u8(150).u32(152).u8(156);
  return Line<GAMEPROTO_SC_HOST_USER_STAT>(tag, tIndex, d);
}

std::string DumpText(std::string_view tag, int16_t tIndex, const CLANSTATREPORTDATA& r) {
  RecordDump d(r);
  d.i16(0).i64(8).i64(16).i32(24).i32(28).i32(32);
  return Line<CLANSTATREPORTDATA>(tag, tIndex, d);
}

std::string DumpText(std::string_view tag, int16_t tIndex, const PROTO_BAN_USER& r) {
  RecordDump d(r);
  d.i64(12).i32(0);
  return Line<PROTO_BAN_USER>(tag, tIndex, d);
}

std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT& r) {
  using Record = PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT;
  RecordDump d(r);
  d.i64(9).u32(17);
  // The count bounds the loop, and the record's capacity bounds the count.
  const size_t count = std::min(d.Get<uint32_t>(17), Record::kCapacity);
  for (size_t i = 0; i < count; ++i) d.i64(21 + 12 * i).u32(29 + 12 * i);
  return Line<Record>(tag, tIndex, d);
}

std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY& r) {
  RecordDump d(r);
  d.i64(9).u8(17);
  return Line<PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY>(tag, tIndex, d);
}

std::string DumpText(std::string_view tag, int16_t tIndex, const GAMEPROTO_SC_SPY_CHANGE& r) {
  RecordDump d(r);
  for (size_t i = 0; i < 2; ++i) d.i64(24 + 8 * i).i64(40 + 8 * i);
  return Line<GAMEPROTO_SC_SPY_CHANGE>(tag, tIndex, d);
}

std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ& r) {
  RecordDump d(r);
  for (size_t i = 0; i < 8; ++i) {
    const size_t at = 16 * i;
    d.i64(8 + at).i32(16 + at).u8(20 + at).u8(21 + at).u8(22 + at).u8(23 + at);
  }
  return Line<PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ>(tag, tIndex, d);
}

std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_AI2_BONUSROUND_REWARD_REQ& r) {
  RecordDump d(r);
  d.text(8, 11);
  for (size_t i = 0; i < 8; ++i) d.i64(19 + 12 * i).i32(27 + 12 * i);
  return Line<PROTO_AI2_BONUSROUND_REWARD_REQ>(tag, tIndex, d);
}

std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ& r) {
  RecordDump d(r);
  for (size_t i = 0; i < 8; ++i) d.i64(8 + 9 * i).u8(16 + 9 * i);
  return Line<PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ>(tag, tIndex, d);
}

std::string DumpText(std::string_view tag, int16_t tIndex, const PROTO_INSERT_CHARACTER_RESULT& r) {
  RecordDump d(r);
  d.i64(12).i32(29);
  return Line<PROTO_INSERT_CHARACTER_RESULT>(tag, tIndex, d);
}

std::string DumpText(std::string_view tag, int16_t tIndex, const PROTO_AI_EXTRA_REWARD_REQ& r) {
  RecordDump d(r);
  for (size_t i = 0; i < 8; ++i) d.i64(9 + 10 * i).u8(17 + 10 * i).u8(18 + 10 * i);
  return Line<PROTO_AI_EXTRA_REWARD_REQ>(tag, tIndex, d);
}

std::string DumpText(std::string_view tag, int16_t tIndex, const PROTO_FINISHED_GAME_PREV& r) {
  RecordDump d(r);
  d.i32(0).i16(4).i16(6);
  return Line<PROTO_FINISHED_GAME_PREV>(tag, tIndex, d);
}

std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_SPEC_RECOMMENDROOM_INGAME_DATA& r) {
  RecordDump d(r);
  d.u16(0).u16(2);
  for (size_t i = 0; i < 25; ++i) {
    const size_t at = 12 * i;
    d.i64(4 + at).u16(12 + at).u16(14 + at).i64(304 + at).u16(312 + at).u16(314 + at);
  }
  return Line<PROTO_SPEC_RECOMMENDROOM_INGAME_DATA>(tag, tIndex, d);
}

std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY& r) {
  RecordDump d(r);
  d.i8(29).i32(30).i32(34).i32(38);
  for (size_t i = 0; i < 16; ++i) {
    const size_t at = 77 * i;
    d.i64(92 + at).i8(100 + at).i16(101 + at).i16(103 + at).i32(105 + at).i16(109 + at);
    d.u8(111 + at);
  }
  return Line<PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY>(tag, tIndex, d);
}

}  // namespace proto
