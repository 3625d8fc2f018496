#include "protocol/serverappmsg.h"

#include <array>
#include <span>

namespace proto {
namespace {

struct NamedId {
  uint8_t id;
  const char* name;
};

#define ROW(id) \
  { id, #id }

constexpr std::array kToModule = std::to_array<NamedId>({
    ROW(SERVERAPPMSG_INIT),
    ROW(SERVERAPPMSG_START_HOST),
    ROW(SERVERAPPMSG_RESET),
    ROW(SERVERAPPMSG_INSERTCHARACTER),
    ROW(SERVERAPPMSG_USER_DISCONNECTED),
    ROW(SERVERAPPMSG_AIGACHA_GROUP_RATE_RESULT),
    ROW(SERVERAPPMSG_AIGACHA_ITEM_INSERT_RESULT),
    ROW(SERVERAPPMSG_SPECTATOR_RECOMMEND_ROOM_SELECT_NTY),
    ROW(SERVERAPPMSG_SERVER_INFO),
    ROW(SERVERAPPMSG_LOG_SERIAL),
    ROW(SERVERAPPMSG_ADDITIONAL_ROOM_INFO),
    ROW(SERVERAPPMSG_AUTO_MATCH_STARTING_USER_INFO),
});

constexpr std::array kFromModule = std::to_array<NamedId>({
    ROW(SERVERAPPMSG_LOADING_COMPLETE),
    ROW(SERVERAPPMSG_ADDCLIENT),
    ROW(SERVERAPPMSG_REMOVECLIENT),
    ROW(SERVERAPPMSG_RESET_REQ),
    ROW(SERVERAPPMSG_GAMEEND),
    ROW(SERVERAPPMSG_HOST_USER_STAT),
    ROW(SERVERAPPMSG_LOADING_FAILED),
    ROW(SERVERAPPMSG_SHELL_LOG),
    ROW(SERVERAPPMSG_CLAN_STAT_REPORT),
    ROW(SERVERAPPMSG_BAN_USER),
    ROW(SERVERAPPMSG_MODULE_VALUES),
    ROW(SERVERAPPMSG_HOST_STAT),
    ROW(SERVERAPPMSG_HEARTBEAT_VALUE),
    ROW(SERVERAPPMSG_AIGACHA_ITEM_INSERT),
    ROW(SERVERAPPMSG_MAPLOADING_COMPLETE_NTY),
    ROW(SERVERAPPMSG_RELAY_27),
    ROW(SERVERAPPMSG_RELAY_28),
    ROW(SERVERAPPMSG_SPY_CHANGE),
    ROW(SERVERAPPMSG_MAPLOADING_COMPLETE_NTY_EX),
    ROW(SERVERAPPMSG_FARMING_ITEM_REQ),
    ROW(SERVERAPPMSG_AI2_BONUSROUND_REWARD_REQ),
    ROW(SERVERAPPMSG_AI3_BONUS_CLEARBOX_ITEM),
    ROW(SERVERAPPMSG_FINISHED_GAME_PREV),
    ROW(SERVERAPPMSG_SPEC_RECOMMENDROOM_INGAME_DATA),
    ROW(SERVERAPPMSG_AUTO_SIDE_CHANGE_TEAM_INFO_NTY),
    ROW(SERVERAPPMSG_RELAY_40),
    ROW(SERVERAPPMSG_IDLE),
    ROW(SERVERAPPMSG_AI_EXTRA_REWARD_REQ),
    ROW(SERVERAPPMSG_AI_BOSSTOWER_REWARD_REQ),
    ROW(SERVERAPPMSG_AI_EXTRA_MIDDLE_REWARD_REQ),
    ROW(SERVERAPPMSG_INGAME_RESULT_REQ),
    ROW(SERVERAPPMSG_AUTO_MATCH_STARTING_USER_INFO_ACK),
});

#undef ROW

constexpr bool Ascending(std::span<const NamedId> rows) {
  for (size_t i = 1; i < rows.size(); ++i) {
    if (rows[i - 1].id >= rows[i].id) return false;
  }
  return true;
}
static_assert(Ascending(kToModule) && Ascending(kFromModule));
static_assert(kFromModule.back().id == SERVERAPPMSG_FROM_MODULE_LAST);

const char* NameOf(std::span<const NamedId> rows, uint32_t id) {
  for (const NamedId& row : rows) {
    if (row.id == id) return row.name;
  }
  return nullptr;
}

std::optional<uint8_t> IdOf(std::span<const NamedId> rows, std::string_view name) {
  for (const NamedId& row : rows) {
    if (name == row.name) return row.id;
  }
  return std::nullopt;
}

}  // namespace

const char* ServerAppMsgToModuleName(uint32_t id) {
  return NameOf(kToModule, id);
}
const char* ServerAppMsgFromModuleName(uint32_t id) {
  return NameOf(kFromModule, id);
}

std::optional<uint8_t> ServerAppMsgToModuleByName(std::string_view name) {
  return IdOf(kToModule, name);
}
std::optional<uint8_t> ServerAppMsgFromModuleByName(std::string_view name) {
  return IdOf(kFromModule, name);
}

}  // namespace proto
