#include "protocol/tomodule.h"

#include <algorithm>
#include <bit>

#include "protocol/serverappmsg.h"

namespace proto {

void WriteServerAppMsgInit(ILTMessage_Write& msg, PROTO_SERVERAPPMSG_INIT& init) {
  WriteU8(msg, SERVERAPPMSG_INIT);
  init.Write(msg);
}

void WriteStartHost(ILTMessage_Write& msg, const PROTO_START_HOST& info,
                    const std::function<void()>& afterUsers) {
  WriteU8(msg, SERVERAPPMSG_START_HOST);
  WriteBool(msg, false);
  WriteU32(msg, info.f1645);
  WriteBool(msg, info.f121 != 0);
  WriteBool(msg, info.f122 != 0);
  WriteBool(msg, info.f130 != 0);
  WriteI8(msg, info.f131);
  WriteBool(msg, info.f1650 != 0);
  WriteBool(msg, info.f1651 == 1);
  WriteU32(msg, info.f49);
  WriteI32(msg, info.f39);
  WriteI32(msg, info.f53);
  WriteU32(msg, info.f41);
  WriteBool(msg, false);
  WriteU32(msg, info.f59);
  WriteU32(msg, info.f63);
  WriteU8(msg, info.f55);
  WriteU16(msg, info.f127);
  WriteI32(msg, info.f67);
  WriteI32(msg, info.f69);
  WriteBool(msg, info.f1349 != 0);
  WriteBytes(msg, info.Users, sizeof(info.Users));
  if (afterUsers) afterUsers();
  const float f123 = info.f123;  // copied: a packed field cannot be bound by reference
  WriteU32(msg, std::bit_cast<uint32_t>(f123));
  WriteBool(msg, info.f129 != 0);
  WriteI8(msg, info.f1350);
  WriteI8(msg, info.f45);
  WriteBool(msg, info.f46 != 0);
  WriteBool(msg, info.f132 != 0);
  WriteU32(msg, info.f133[0]);
  WriteU32(msg, info.f133[1]);
  for (const auto& group : info.f1352) {
    for (const START_HOST_TEXT_ENTRY& entry : group) {
      WriteFixedText(msg, entry.text, sizeof(entry.text));
    }
  }
  WriteBool(msg, info.f1640[0] != 0);
  WriteBool(msg, info.f1351 != 0);
  for (int i = 1; i < 5; ++i) WriteBool(msg, info.f1640[i] != 0);
  WriteI32(msg, info.f1646);
  // Stored one below what the module expects; 255 wraps to 0.
  WriteU8(msg, static_cast<uint8_t>(info.f1648 + 1));
  WriteFixedText(msg, info.GameLogSerial, sizeof(info.GameLogSerial));
  WriteU16(msg, info.f28);
  WriteU16(msg, info.f30);
  WriteBool(msg, info.f47 != 0);
}

void WriteReset(ILTMessage_Write& msg) {
  WriteU8(msg, SERVERAPPMSG_RESET);
}

void WriteInsertCharacter(ILTMessage_Write& msg, const PROTO_GAME_USER_INFO& user) {
  WriteU8(msg, SERVERAPPMSG_INSERTCHARACTER);
  WriteI8(msg, static_cast<int8_t>(user.SlotIdx & 0xFF));
  WriteBytes(msg, &user, sizeof(user));
}

void WriteUserDisconnected(ILTMessage_Write& msg, uint64_t usn) {
  WriteU8(msg, SERVERAPPMSG_USER_DISCONNECTED);
  WriteU64(msg, usn);
}

EntryCount WriteAigachaGroupRateResult(
    ILTMessage_Write& msg, const PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT& result) {
  using Record = PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT;
  const uint32_t declared = result.Count;
  const EntryCount count{declared, std::min(declared, Record::kCapacity)};
  WriteU8(msg, SERVERAPPMSG_AIGACHA_GROUP_RATE_RESULT);
  WriteU32(msg, count.kept);
  for (uint32_t i = 0; i < count.kept; ++i) {
    const Record::Entry entry = result.Entries[i];
    WriteU32(msg, entry.First);
    WriteU32(msg, entry.Second);
    for (int k = 0; k < 4; ++k) {
      const double rate = entry.Rates[k];
      WriteU64(msg, std::bit_cast<uint64_t>(rate));
    }
  }
  return count;
}

EntryCount WriteAigachaItemInsertResult(
    ILTMessage_Write& msg, const PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT& result) {
  using Record = PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT;
  const uint32_t declared = result.Count;
  const EntryCount count{declared, std::min(declared, Record::kCapacity)};
  WriteU8(msg, SERVERAPPMSG_AIGACHA_ITEM_INSERT_RESULT);
  WriteU64(msg, result.USN);
  WriteU16(msg, static_cast<uint16_t>(declared));
  WriteU32(msg, result.SingleValue);
  for (uint32_t i = 0; i < count.kept; ++i) {
    const Record::Entry entry = result.Entries[i];
    WriteU32(msg, result.Values[i]);
    WriteU64(msg, entry.Value64);
    WriteU16(msg, static_cast<uint16_t>(entry.Value32));
  }
  WriteI8(msg, -1);
  return count;
}

void WriteSpectatorRecommendRoomSelectNty(ILTMessage_Write& msg, uint8_t value) {
  WriteU8(msg, SERVERAPPMSG_SPECTATOR_RECOMMEND_ROOM_SELECT_NTY);
  WriteU8(msg, value);
}

void WriteServerInfo(ILTMessage_Write& msg, uint32_t groupNumber, uint32_t serverIndex) {
  WriteU8(msg, SERVERAPPMSG_SERVER_INFO);
  WriteU32(msg, groupNumber);
  WriteU32(msg, serverIndex);
}

void WriteLogSerial(ILTMessage_Write& msg, const std::string& serial) {
  WriteU8(msg, SERVERAPPMSG_LOG_SERIAL);
  msg.WriteString(serial.c_str());
}

void WriteAdditionalRoomInfo(ILTMessage_Write& msg, bool flag) {
  WriteU8(msg, SERVERAPPMSG_ADDITIONAL_ROOM_INFO);
  WriteBool(msg, flag);
}

void WriteAutoMatchStartingUserInfo(ILTMessage_Write& msg,
                                    const PROTO_AUTO_MATCH_STARTING_USER_INFO& users) {
  WriteU8(msg, SERVERAPPMSG_AUTO_MATCH_STARTING_USER_INFO);
  WriteBytes(msg, &users, sizeof(users));
}

}  // namespace proto
