// Module message identifiers (SERVERAPPMSG_*): the first 8 bits of every
// message stream exchanged with the server module. Each direction has its
// own numbering, so the same number means different messages depending on
// who sent it; the two enumerations below never share a name.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Host to module (written by the host, read by the module).
enum SERVERAPPMSG_TO_MODULE : uint8_t {
  SERVERAPPMSG_INIT = 0,
  SERVERAPPMSG_START_HOST = 7,
  SERVERAPPMSG_RESET = 8,
  SERVERAPPMSG_INSERTCHARACTER = 14,
  SERVERAPPMSG_USER_DISCONNECTED = 16,
  SERVERAPPMSG_AIGACHA_GROUP_RATE_RESULT = 23,
  SERVERAPPMSG_AIGACHA_ITEM_INSERT_RESULT = 24,
  SERVERAPPMSG_SPECTATOR_RECOMMEND_ROOM_SELECT_NTY = 36,
  SERVERAPPMSG_SERVER_INFO = 39,
  SERVERAPPMSG_LOG_SERIAL = 43,
  SERVERAPPMSG_ADDITIONAL_ROOM_INFO = 45,
  SERVERAPPMSG_AUTO_MATCH_STARTING_USER_INFO = 50,
};

// Module to host (written by the module, read by OnShellMessage). Ids
// without a name here are ignored by the host.
enum SERVERAPPMSG_FROM_MODULE : uint8_t {
  SERVERAPPMSG_LOADING_COMPLETE = 0,
  SERVERAPPMSG_ADDCLIENT = 1,
  SERVERAPPMSG_REMOVECLIENT = 2,
  SERVERAPPMSG_RESET_REQ = 8,
  SERVERAPPMSG_GAMEEND = 9,
  SERVERAPPMSG_HOST_USER_STAT = 11,
  SERVERAPPMSG_LOADING_FAILED = 13,
  SERVERAPPMSG_SHELL_LOG = 15,
  SERVERAPPMSG_CLAN_STAT_REPORT = 17,
  SERVERAPPMSG_BAN_USER = 18,
  SERVERAPPMSG_MODULE_VALUES = 19,
  SERVERAPPMSG_HOST_STAT = 20,
  SERVERAPPMSG_HEARTBEAT_VALUE = 21,
  SERVERAPPMSG_AIGACHA_ITEM_INSERT = 22,
  SERVERAPPMSG_MAPLOADING_COMPLETE_NTY = 25,
  SERVERAPPMSG_RELAY_27 = 27,
  SERVERAPPMSG_RELAY_28 = 28,
  SERVERAPPMSG_SPY_CHANGE = 29,
  SERVERAPPMSG_MAPLOADING_COMPLETE_NTY_EX = 30,
  SERVERAPPMSG_FARMING_ITEM_REQ = 31,
  SERVERAPPMSG_AI2_BONUSROUND_REWARD_REQ = 32,
  SERVERAPPMSG_AI3_BONUS_CLEARBOX_ITEM = 33,
  SERVERAPPMSG_FINISHED_GAME_PREV = 34,
  SERVERAPPMSG_SPEC_RECOMMENDROOM_INGAME_DATA = 37,
  SERVERAPPMSG_AUTO_SIDE_CHANGE_TEAM_INFO_NTY = 38,
  SERVERAPPMSG_RELAY_40 = 40,
  SERVERAPPMSG_IDLE = 44,
  SERVERAPPMSG_AI_EXTRA_REWARD_REQ = 46,
  SERVERAPPMSG_AI_BOSSTOWER_REWARD_REQ = 47,
  SERVERAPPMSG_AI_EXTRA_MIDDLE_REWARD_REQ = 48,
  SERVERAPPMSG_INGAME_RESULT_REQ = 49,
  SERVERAPPMSG_AUTO_MATCH_STARTING_USER_INFO_ACK = 51,
};

// Highest module-to-host id the host acts on; everything above is ignored.
inline constexpr uint8_t SERVERAPPMSG_FROM_MODULE_LAST = 51;

namespace proto {

// "SERVERAPPMSG_..." for a host-to-module id; null for an id without a name.
const char* ServerAppMsgToModuleName(uint32_t id);

// "SERVERAPPMSG_..." for a module-to-host id; null for an id the host ignores.
const char* ServerAppMsgFromModuleName(uint32_t id);

std::optional<uint8_t> ServerAppMsgToModuleByName(std::string_view name);
std::optional<uint8_t> ServerAppMsgFromModuleByName(std::string_view name);

}  // namespace proto
