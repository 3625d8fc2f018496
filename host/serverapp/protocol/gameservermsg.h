// Manager message identifiers (GAMESERVERMSG_*) and the catalogue that says,
// for each one, who sends it and how it travels.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

// Every message between the host and the manager is numbered in this one
// space, whichever direction it goes. Numbers the host never uses (12, 17,
// 20, 26-31, 36, 49, 50, 60) have no name.
enum GAMESERVERMSG : uint16_t {
  GAMESERVERMSG_REPORT_HWND = 0,
  GAMESERVERMSG_SERVER_PROBE_NTY = 1,
  GAMESERVERMSG_HOST_HEARTBEAT = 2,
  GAMESERVERMSG_HOST_HEARTBEAT_ACK = 3,
  GAMESERVERMSG_LOAD_MAP = 4,
  GAMESERVERMSG_LOADING_COMPLETE = 5,
  GAMESERVERMSG_START_HOST = 6,
  GAMESERVERMSG_START_HOST_ACK = 7,
  GAMESERVERMSG_GAMEEND = 8,
  GAMESERVERMSG_RESET_ROOM = 9,
  GAMESERVERMSG_TERMINATE = 10,
  GAMESERVERMSG_HOST_USER_STAT = 11,
  GAMESERVERMSG_INSERTCHARACTER = 13,
  GAMESERVERMSG_INSERTCHARACTER_ACK = 14,
  GAMESERVERMSG_USER_DISCONNECTED = 15,
  GAMESERVERMSG_CLAN_STAT_REPORT = 16,
  GAMESERVERMSG_BAN_USER = 18,
  GAMESERVERMSG_ADDCLIENT = 19,
  GAMESERVERMSG_MODULE_VALUES_NTY = 21,
  GAMESERVERMSG_HOST_STAT = 22,
  GAMESERVERMSG_SERVER_READY = 23,
  GAMESERVERMSG_MODULE_NOTIFY = 24,
  GAMESERVERMSG_REMOVECLIENT = 25,
  GAMESERVERMSG_AIGACHA_ITEM_INSERT = 32,
  GAMESERVERMSG_AIGACHA_GROUP_RATE_RESULT = 33,
  GAMESERVERMSG_AIGACHA_ITEM_INSERT_RESULT = 34,
  GAMESERVERMSG_MAPLOADING_COMPLETE_NTY = 35,
  GAMESERVERMSG_RELAY_27 = 37,
  GAMESERVERMSG_RELAY_28 = 38,
  GAMESERVERMSG_SPY_CHANGE = 39,
  GAMESERVERMSG_FARMING_ITEM_REQ = 40,
  GAMESERVERMSG_AI2_BONUSROUND_REWARD_REQ = 41,
  GAMESERVERMSG_AI3_BONUS_REWARD_ITEM_REQ = 42,
  GAMESERVERMSG_FINISHED_GAME_PREV = 43,
  GAMESERVERMSG_LOG_SERIAL = 44,
  GAMESERVERMSG_SPECTATOR_RECOMMEND_ROOM_SELECT_NTY = 45,
  GAMESERVERMSG_SPEC_RECOMMENDROOM_INGAME_DATA = 46,
  GAMESERVERMSG_AUTO_SIDE_CHANGE_TEAM_INFO_NTY = 47,
  GAMESERVERMSG_RELAY_40 = 48,
  GAMESERVERMSG_ADDITIONAL_ROOM_INFO = 51,
  GAMESERVERMSG_AI_EXTRA_REWARD_REQ = 52,
  GAMESERVERMSG_RWPM_ADDRESS_TABLE = 53,
  GAMESERVERMSG_UCC_MAP_LOAD = 54,
  GAMESERVERMSG_AI_BOSSTOWER_REWARD_REQ = 55,
  GAMESERVERMSG_AI_EXTRA_MIDDLE_REWARD_REQ = 56,
  GAMESERVERMSG_INGAME_RESULT_REQ = 57,
  GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO = 58,
  GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO_ACK = 59,
  GAMESERVERMSG_MAX = 61,
};

// User slots of one room; also the row width of the RWPM address table.
inline constexpr int IPC_ROOM_MAX_USER = 50;

// The window message of every posted message, in both directions.
inline constexpr uint32_t WM_GAMESERVERMSG = 0x400 + 0x40;  // WM_USER+0x40

namespace proto {

enum class Direction : uint8_t { kToManager, kToHost };

enum class Transport : uint8_t {
  kPosted,             // WM_USER+0x40 with a value in lParam
  kCopyData,           // WM_COPYDATA only
  kCopyDataOrAddress,  // WM_COPYDATA, or posted with the record's address in lParam
  kPostedAddress,      // posted with the record's address in lParam only
};

// cbData of a copy-data message whose payload may have any length.
inline constexpr int32_t kAnyLength = -1;

struct GameServerMsgInfo {
  uint16_t id;
  const char* name;
  Direction direction;
  Transport transport;
  // cbData of the copy-data form, or the record size of a posted address; 0
  // for a message that carries no record; kAnyLength for free-length text.
  int32_t size;
};

// Every named manager message, ordered by id.
std::span<const GameServerMsgInfo> GameServerMsgCatalogue();

// The catalogue row of a manager message; null for an unused or out-of-range id.
const GameServerMsgInfo* FindGameServerMsg(uint32_t id);

// "GAMESERVERMSG_..." for a named id; null otherwise.
const char* GameServerMsgName(uint32_t id);

// The id of a "GAMESERVERMSG_..." name (exact, case-sensitive).
std::optional<uint16_t> GameServerMsgByName(std::string_view name);

}  // namespace proto
