// Text of the protocol record dumps written to the RWPM log: pure builders
// that answer the line (everything after the logger's date prefix), so the
// exact text can be checked without a log file. dumplog.h writes them.
//
// A record line reads "<tag>, <tIndex>, <record name>, <values>".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/gameinfo.h"
#include "protocol/managerrecords.h"
#include "protocol/relayrecords.h"
#include "protocol/rewardrecords.h"

namespace proto {

inline constexpr std::string_view kRecvTag = "[RECV]";
inline constexpr std::string_view kSendTag = "[SEND]";

// "<tag>, <tIndex>, <name>, <values>".
std::string DumpLine(std::string_view tag, int16_t tIndex, std::string_view name,
                     std::string_view values);

// Records received from the manager.
std::string DumpText(std::string_view tag, int16_t tIndex, const PROTO_START_HOST& record);
std::string DumpText(std::string_view tag, int16_t tIndex, const PROTO_GAME_USER_INFO& record);
std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT& record);
std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT& record);

// One line per row whose first address is not 0, holding the row's
// addresses up to the first 0: "<tag>, <tIndex>, MEMORY_ADDRESS[<row>], <values>".
std::vector<std::string> DumpAddressTableText(std::string_view tag, int16_t tIndex,
                                              const RWPM_ADDRESS_TABLE& table);

// One value under a caller's name ("GAMESERVERMSG_USER_DISCONNECTED" for the
// USN of a disconnect).
std::string DumpValueText(std::string_view tag, int16_t tIndex, std::string_view name,
                          int64_t value);

// Records built for the manager (the "[SEND]" dumps of the RWPM write mode).
std::string DumpText(std::string_view tag, int16_t tIndex, const GAMEPROTO_SC_REMOVECLIENT& r);
std::string DumpText(std::string_view tag, int16_t tIndex, const GAMEPROTO_SS_GAMEEND& r);
std::string DumpText(std::string_view tag, int16_t tIndex, const GAMEPROTO_SC_HOST_USER_STAT& r);
std::string DumpText(std::string_view tag, int16_t tIndex, const CLANSTATREPORTDATA& r);
std::string DumpText(std::string_view tag, int16_t tIndex, const PROTO_BAN_USER& r);
std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT& r);
std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY& r);
std::string DumpText(std::string_view tag, int16_t tIndex, const GAMEPROTO_SC_SPY_CHANGE& r);
std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ& r);
std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_AI2_BONUSROUND_REWARD_REQ& r);
std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ& r);
std::string DumpText(std::string_view tag, int16_t tIndex, const PROTO_INSERT_CHARACTER_RESULT& r);
std::string DumpText(std::string_view tag, int16_t tIndex, const PROTO_AI_EXTRA_REWARD_REQ& r);
std::string DumpText(std::string_view tag, int16_t tIndex, const PROTO_FINISHED_GAME_PREV& r);
std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_SPEC_RECOMMENDROOM_INGAME_DATA& r);
std::string DumpText(std::string_view tag, int16_t tIndex,
                     const PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY& r);

}  // namespace proto
