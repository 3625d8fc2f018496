#include "protocol/gameservermsg.h"

#include <array>

namespace proto {
namespace {

constexpr Direction kOut = Direction::kToManager;
constexpr Direction kIn = Direction::kToHost;
constexpr Transport kPost = Transport::kPosted;
constexpr Transport kCopy = Transport::kCopyData;
constexpr Transport kEither = Transport::kCopyDataOrAddress;
constexpr Transport kAddr = Transport::kPostedAddress;

#define ROW(id, dir, transport, size) \
  { id, #id, dir, transport, size }

constexpr std::array kCatalogue = std::to_array<GameServerMsgInfo>({
    ROW(GAMESERVERMSG_REPORT_HWND, kOut, kPost, 0),
    ROW(GAMESERVERMSG_SERVER_PROBE_NTY, kOut, kPost, 0),
    ROW(GAMESERVERMSG_HOST_HEARTBEAT, kIn, kPost, 0),
    ROW(GAMESERVERMSG_HOST_HEARTBEAT_ACK, kOut, kPost, 0),
    ROW(GAMESERVERMSG_LOAD_MAP, kIn, kPost, 0),
    ROW(GAMESERVERMSG_LOADING_COMPLETE, kOut, kPost, 0),
    ROW(GAMESERVERMSG_START_HOST, kIn, kEither, 211406),
    ROW(GAMESERVERMSG_START_HOST_ACK, kOut, kPost, 0),
    ROW(GAMESERVERMSG_GAMEEND, kOut, kCopy, 109986),
    ROW(GAMESERVERMSG_RESET_ROOM, kIn, kPost, 0),
    ROW(GAMESERVERMSG_TERMINATE, kIn, kPost, 0),
    ROW(GAMESERVERMSG_HOST_USER_STAT, kOut, kCopy, 1994),
    ROW(GAMESERVERMSG_INSERTCHARACTER, kIn, kEither, 4195),
    ROW(GAMESERVERMSG_INSERTCHARACTER_ACK, kOut, kCopy, 10),
    ROW(GAMESERVERMSG_USER_DISCONNECTED, kIn, kEither, 8),
    ROW(GAMESERVERMSG_CLAN_STAT_REPORT, kOut, kCopy, 40),
    ROW(GAMESERVERMSG_BAN_USER, kOut, kCopy, 23),
    ROW(GAMESERVERMSG_ADDCLIENT, kOut, kPost, 0),
    ROW(GAMESERVERMSG_MODULE_VALUES_NTY, kOut, kPost, 0),
    ROW(GAMESERVERMSG_HOST_STAT, kOut, kCopy, 850),
    ROW(GAMESERVERMSG_SERVER_READY, kOut, kPost, 0),
    ROW(GAMESERVERMSG_MODULE_NOTIFY, kOut, kPost, 0),
    ROW(GAMESERVERMSG_REMOVECLIENT, kOut, kCopy, 58),
    ROW(GAMESERVERMSG_AIGACHA_ITEM_INSERT, kOut, kCopy, 143),
    ROW(GAMESERVERMSG_AIGACHA_GROUP_RATE_RESULT, kIn, kEither, 1208),
    ROW(GAMESERVERMSG_AIGACHA_ITEM_INSERT_RESULT, kIn, kEither, 184),
    ROW(GAMESERVERMSG_MAPLOADING_COMPLETE_NTY, kOut, kCopy, 23),
    ROW(GAMESERVERMSG_RELAY_27, kOut, kPost, 0),
    ROW(GAMESERVERMSG_RELAY_28, kOut, kPost, 0),
    ROW(GAMESERVERMSG_SPY_CHANGE, kOut, kCopy, 58),
    ROW(GAMESERVERMSG_FARMING_ITEM_REQ, kOut, kCopy, 138),
    ROW(GAMESERVERMSG_AI2_BONUSROUND_REWARD_REQ, kOut, kCopy, 117),
    ROW(GAMESERVERMSG_AI3_BONUS_REWARD_ITEM_REQ, kOut, kCopy, 82),
    ROW(GAMESERVERMSG_FINISHED_GAME_PREV, kOut, kCopy, 11),
    ROW(GAMESERVERMSG_LOG_SERIAL, kIn, kCopy, kAnyLength),
    ROW(GAMESERVERMSG_SPECTATOR_RECOMMEND_ROOM_SELECT_NTY, kIn, kPost, 0),
    ROW(GAMESERVERMSG_SPEC_RECOMMENDROOM_INGAME_DATA, kOut, kCopy, 606),
    ROW(GAMESERVERMSG_AUTO_SIDE_CHANGE_TEAM_INFO_NTY, kOut, kCopy, 3973),
    ROW(GAMESERVERMSG_RELAY_40, kOut, kPost, 0),
    ROW(GAMESERVERMSG_ADDITIONAL_ROOM_INFO, kIn, kPost, 0),
    ROW(GAMESERVERMSG_AI_EXTRA_REWARD_REQ, kOut, kCopy, 91),
    ROW(GAMESERVERMSG_RWPM_ADDRESS_TABLE, kIn, kAddr, 24400),
    ROW(GAMESERVERMSG_UCC_MAP_LOAD, kIn, kCopy, 140),
    ROW(GAMESERVERMSG_AI_BOSSTOWER_REWARD_REQ, kOut, kCopy, 243),
    ROW(GAMESERVERMSG_AI_EXTRA_MIDDLE_REWARD_REQ, kOut, kCopy, 75),
    ROW(GAMESERVERMSG_INGAME_RESULT_REQ, kOut, kCopy, 176),
    ROW(GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO, kIn, kCopy, 209750),
    ROW(GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO_ACK, kOut, kCopy, 2),
});

#undef ROW

// Direct index from id to catalogue row, built once at compile time.
constexpr std::array<int8_t, GAMESERVERMSG_MAX> MakeIndex() {
  std::array<int8_t, GAMESERVERMSG_MAX> index{};
  for (auto& slot : index) slot = -1;
  for (size_t i = 0; i < kCatalogue.size(); ++i) index[kCatalogue[i].id] = static_cast<int8_t>(i);
  return index;
}
constexpr auto kIndex = MakeIndex();

constexpr bool IdsAscendAndFit() {
  for (size_t i = 0; i < kCatalogue.size(); ++i) {
    if (kCatalogue[i].id >= GAMESERVERMSG_MAX) return false;
    if (i > 0 && kCatalogue[i - 1].id >= kCatalogue[i].id) return false;
  }
  return true;
}
static_assert(IdsAscendAndFit(),
              "catalogue rows must be unique, ordered and below GAMESERVERMSG_MAX");
// 61 numbers minus the 13 the host never uses.
static_assert(kCatalogue.size() == 48);

}  // namespace

std::span<const GameServerMsgInfo> GameServerMsgCatalogue() {
  return kCatalogue;
}

const GameServerMsgInfo* FindGameServerMsg(uint32_t id) {
  if (id >= GAMESERVERMSG_MAX || kIndex[id] < 0) return nullptr;
  return &kCatalogue[static_cast<size_t>(kIndex[id])];
}

const char* GameServerMsgName(uint32_t id) {
  const GameServerMsgInfo* info = FindGameServerMsg(id);
  return info ? info->name : nullptr;
}

std::optional<uint16_t> GameServerMsgByName(std::string_view name) {
  for (const GameServerMsgInfo& info : kCatalogue) {
    if (name == info.name) return info.id;
  }
  return std::nullopt;
}

}  // namespace proto
