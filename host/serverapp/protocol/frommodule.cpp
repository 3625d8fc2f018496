#include "protocol/frommodule.h"

#include <algorithm>

namespace proto {
namespace {

// Reads `declared` entries with `readOne(i, entry)`: the first `capacity`
// into the record, the rest into a scratch entry that is dropped. Dropping
// ends early when the stream is exhausted.
template <typename Entry, typename ReadOne>
EntryCount ReadEntries(ILTMessage_Read& msg, uint32_t declared, Entry* entries, uint32_t capacity,
                       ReadOne readOne) {
  const EntryCount count{declared, std::min(declared, capacity)};
  for (uint32_t i = 0; i < count.kept; ++i) readOne(entries[i]);
  Entry scratch{};
  for (uint32_t i = count.kept; i < declared && msg.BitsLeft() > 0; ++i) readOne(scratch);
  return count;
}

}  // namespace

int16_t ReadLoadingComplete(ILTMessage_Read& msg) {
  return ReadI16(msg);
}

AddClientFields ReadAddClient(ILTMessage_Read& msg) {
  AddClientFields fields;
  fields.USN = ReadU64(msg);
  fields.idKind = ReadGuardedU32(msg);
  fields.first = ReadU16(msg);
  fields.second = ReadU16(msg);
  return fields;
}

LoadingFailedFields ReadLoadingFailed(ILTMessage_Read& msg) {
  LoadingFailedFields fields;
  fields.tMapIndex = ReadI16(msg);
  fields.reason = ReadI8(msg);
  return fields;
}

void ReadRemoveClient(ILTMessage_Read& msg, GAMEPROTO_SC_REMOVECLIENT& record) {
  ReadRecordData(msg, record);
}
void ReadGameEnd(ILTMessage_Read& msg, GAMEPROTO_SS_GAMEEND& record) {
  ReadRecordData(msg, record);
}
void ReadHostUserStat(ILTMessage_Read& msg, GAMEPROTO_SC_HOST_USER_STAT& record) {
  ReadRecordData(msg, record);
}
void ReadHostStat(ILTMessage_Read& msg, GAMEPROTO_SC_HOST_STAT& record) {
  ReadRecordData(msg, record);
}
void ReadSpyChange(ILTMessage_Read& msg, GAMEPROTO_SC_SPY_CHANGE& record) {
  ReadRecordData(msg, record);
}
void ReadFinishedGamePrev(ILTMessage_Read& msg, PROTO_FINISHED_GAME_PREV& record) {
  ReadRecordData(msg, record);
}
void ReadSpecRecommendRoomIngameData(ILTMessage_Read& msg,
                                     PROTO_SPEC_RECOMMENDROOM_INGAME_DATA& record) {
  ReadRecordData(msg, record);
}

void ReadClanStatReport(ILTMessage_Read& msg, CLANSTATREPORTDATA& record) {
  record.f8 = ReadU64(msg);
  record.f16 = ReadU64(msg);
  record.f24 = ReadGuardedU32(msg);
  record.f28 = ReadGuardedU32(msg);
  record.f32 = ReadGuardedU32(msg);
}

uint8_t ReadBanUser(ILTMessage_Read& msg, PROTO_BAN_USER& record) {
  record.USN = ReadU64(msg);
  record.BanValue = ReadU8(msg);
  return ReadU8(msg);
}

uint8_t ReadMapLoadingCompleteNty(ILTMessage_Read& msg,
                                  PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY& record) {
  record.USN = ReadU64(msg);
  record.Flags[0] = ReadBool(msg) ? 1 : 0;
  return ReadU8(msg);
}

uint8_t ReadMapLoadingCompleteNtyEx(ILTMessage_Read& msg,
                                    PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY& record) {
  record.USN = ReadU64(msg);
  for (uint8_t& flag : record.Flags) flag = ReadBool(msg) ? 1 : 0;
  return ReadU8(msg);
}

ModuleValues ReadModuleValues(ILTMessage_Read& msg) {
  ModuleValues values;
  values.first = ReadGuardedU32(msg);
  values.second = ReadGuardedU32(msg);
  return values;
}

uint32_t ReadHeartbeatValue(ILTMessage_Read& msg) {
  return ReadGuardedU32(msg);
}

CountAndSlot ReadAigachaItemInsert(ILTMessage_Read& msg,
                                   PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT& record) {
  using Record = PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT;
  CountAndSlot result;
  record.USN = ReadU64(msg);
  const uint32_t declared = ReadGuardedU32(msg);
  result.count =
      ReadEntries(msg, declared, record.Entries, Record::kCapacity, [&](Record::Entry& entry) {
        entry.Value64 = ReadU64(msg);
        entry.Value32 = ReadGuardedU32(msg);
      });
  record.Count = result.count.kept;
  result.slotIndex = ReadU8(msg);
  return result;
}

void ReadFarmingItemReq(ILTMessage_Read& msg, PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ& record) {
  for (auto& entry : record.Entries) {
    entry.USN = ReadU64(msg);
    entry.Value = ReadGuardedU32(msg);
    for (uint8_t& value : entry.Small) value = ReadU8(msg);
  }
}

EntryCount ReadAi2BonusRoundRewardReq(ILTMessage_Read& msg,
                                      PROTO_AI2_BONUSROUND_REWARD_REQ& record) {
  using Record = PROTO_AI2_BONUSROUND_REWARD_REQ;
  const uint32_t declared = ReadGuardedU32(msg);
  char itemId[sizeof(record.szItemID)] = {};
  msg.ReadString(itemId, sizeof(itemId));
  std::copy(std::begin(itemId), std::end(itemId), record.szItemID);
  const EntryCount count =
      ReadEntries(msg, declared, record.Entries, Record::kCapacity, [&](Record::Entry& entry) {
        entry.USN = ReadU64(msg);
        entry.Value = ReadGuardedU32(msg);
      });
  for (uint32_t i = count.kept; i < Record::kCapacity; ++i) record.Entries[i] = Record::Entry{};
  return count;
}

void ReadAi3BonusClearboxItem(ILTMessage_Read& msg,
                              PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ& record) {
  for (auto& entry : record.Entries) {
    entry.USN = ReadU64(msg);
    entry.IsReward = ReadBool(msg) ? 1 : 0;
  }
}

EntryCount ReadAutoSideChangeTeamInfoNty(ILTMessage_Read& msg,
                                         PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY& record) {
  using Record = PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY;
  // Values read wider than their field keep their low bytes.
  auto g16 = [&] { return static_cast<uint16_t>(ReadGuardedU32(msg)); };
  auto g8 = [&] { return static_cast<uint8_t>(ReadGuardedU32(msg)); };

  record.f29 = ReadI8(msg);
  record.f30 = ReadGuardedU32(msg);
  record.f34 = ReadGuardedU32(msg);
  record.f38 = ReadGuardedU32(msg);
  const uint32_t declared = ReadGuardedU32(msg);
  const EntryCount count =
      ReadEntries(msg, declared, record.Entries, Record::kCapacity, [&](Record::Entry& entry) {
        entry.USN = ReadU64(msg);
        entry.f8 = ReadI8(msg);
        entry.f9 = g16();
        entry.f11 = g16();
        entry.f13 = static_cast<uint32_t>(ReadU64(msg));
        entry.f17 = g16();
        entry.f19 = g8();
        for (int k = 0; k < 13; ++k) {
          entry.f20[k] = g16();
          entry.f46[k] = g16();
        }
        entry.f72 = g8();
        entry.f73 = g8();
        entry.f74 = g8();
        entry.f75 = g16();
      });
  for (int i = 0; i < 7; ++i) record.f3942[i] = ReadGuardedU32(msg);
  return count;
}

void ReadAiExtraRewardReq(ILTMessage_Read& msg, PROTO_AI_EXTRA_REWARD_REQ& record) {
  for (auto& entry : record.Entries) {
    entry.USN = ReadU64(msg);
    entry.IsReward = ReadU8(msg);
    entry.IsSpecialClear = ReadBool(msg) ? 1 : 0;
  }
}

void ReadAiBosstowerRewardReq(ILTMessage_Read& msg, PROTO_AI_BOSSTOWER_REWARD_REQ& record) {
  for (auto& entry : record.Entries) {
    entry.USN = ReadU64(msg);
    for (int k = 0; k < 4; ++k) {
      entry.Small[k] = ReadU8(msg);
      entry.Large[k] = ReadU8(msg);
    }
    entry.Flag = ReadBool(msg) ? 1 : 0;
  }
}

void ReadAiExtraMiddleRewardReq(ILTMessage_Read& msg, PROTO_AI_EXTRA_MIDDLE_REWARD_REQ& record) {
  for (int i = 0; i < 8; ++i) record.USN[i] = ReadU64(msg);
}

void ReadIngameResultReq(ILTMessage_Read& msg, PROTO_INGAME_RESULT_REQ& record) {
  record.f9 = ReadU8(msg);
  record.f10 = ReadU16(msg);
  record.f12 = ReadU16(msg);
  for (auto& entry : record.Entries) {
    entry.USN = ReadU64(msg);
    entry.Value = ReadU16(msg);
  }
}

}  // namespace proto
