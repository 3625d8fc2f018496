// The "[RECV]" dumps: records read from the manager, and the address table.
#include "protocol/dumptext.h"

#include "protocol/dumpvalues.h"

namespace proto {

std::string DumpLine(std::string_view tag, int16_t tIndex, std::string_view name,
                     std::string_view values) {
  std::string line;
  line.reserve(tag.size() + name.size() + values.size() + 16);
  line.append(tag).append(", ").append(std::to_string(tIndex)).append(", ");
  line.append(name).append(", ").append(values);
  return line;
}

std::string DumpText(std::string_view tag, int16_t tIndex, const PROTO_START_HOST& record) {
  RecordDump d(record);
  d.i32(0).u32(4).i32(8).text(12, 16).i16(28).i16(30).i16(32).i16(34).u8(36);
  return DumpLine(tag, tIndex, "PROTO_START_HOST", d.Values().Text());
}

std::string DumpText(std::string_view tag, int16_t tIndex, const PROTO_GAME_USER_INFO& record) {
  RecordDump d(record);
  d.i64(0).u8(8).u8(9).u8(10).u8(11).i8(12).i32(13).i32(17).i32(74);
  for (size_t i = 0; i < 7; ++i) d.i32(78 + 8 * i).i32(82 + 8 * i);
  return DumpLine(tag, tIndex, "PROTO_GAME_USER_INFO", d.Values().Text());
}

std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT& record) {
  RecordDump d(record);
  d.i64(8).u32(16);
  for (size_t i = 0; i < 10; ++i) d.i64(20 + 12 * i).u32(28 + 12 * i);
  return DumpLine(tag, tIndex, "PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT", d.Values().Text());
}

std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT& record) {
  RecordDump d(record);
  d.i32(0).u32(4);
  for (size_t i = 0; i < 30; ++i) d.i32(8 + 40 * i).i32(12 + 40 * i);
  return DumpLine(tag, tIndex, "PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT", d.Values().Text());
}

std::vector<std::string> DumpAddressTableText(std::string_view tag, int16_t tIndex,
                                              const RWPM_ADDRESS_TABLE& table) {
  std::vector<std::string> lines;
  for (int row = 0; row < GAMESERVERMSG_MAX; ++row) {
    if (table.Address[row][0] == 0) continue;
    DumpValues values;
    for (int slot = 0; slot < IPC_ROOM_MAX_USER && table.Address[row][slot] != 0; ++slot) {
      values.AddInt(static_cast<int64_t>(table.Address[row][slot]));
    }
    lines.push_back(
        DumpLine(tag, tIndex, "MEMORY_ADDRESS[" + std::to_string(row) + "]", values.Text()));
  }
  return lines;
}

std::string DumpValueText(std::string_view tag, int16_t tIndex, std::string_view name,
                          int64_t value) {
  DumpValues values;
  values.AddInt(value);
  return DumpLine(tag, tIndex, name, values.Text());
}

}  // namespace proto
