// Readers of the module messages the host receives in OnShellMessage. Each
// starts after the 8-bit id and reads the fields in stream order.
//
// Readers that use guarded u32 reads throw proto::ReadError; the dispatch
// catches it and abandons the message. A count above the record's capacity
// keeps the first entries, reads and drops the rest (so whatever follows is
// read from its right place) and is reported in the returned EntryCount.
// Reading stops dropping when the stream runs out, so a wild count cannot
// spin. A stream that ends early reads as zeros; the reader's IsOverrun()
// tells the caller.
#pragma once

#include <cstdint>

#include "interface/ltmessage.h"
#include "protocol/relayrecords.h"
#include "protocol/rewardrecords.h"
#include "protocol/streamio.h"

namespace proto {

// SERVERAPPMSG_LOADING_COMPLETE: the map index.
int16_t ReadLoadingComplete(ILTMessage_Read& msg);

struct AddClientFields {
  uint64_t USN = 0;
  uint32_t idKind = 0;
  uint16_t first = 0;
  uint16_t second = 0;
};
AddClientFields ReadAddClient(ILTMessage_Read& msg);

struct LoadingFailedFields {
  int16_t tMapIndex = 0;
  int8_t reason = 0;
};
LoadingFailedFields ReadLoadingFailed(ILTMessage_Read& msg);

// Whole records sent as raw data.
void ReadRemoveClient(ILTMessage_Read& msg, GAMEPROTO_SC_REMOVECLIENT& record);
void ReadGameEnd(ILTMessage_Read& msg, GAMEPROTO_SS_GAMEEND& record);
void ReadHostUserStat(ILTMessage_Read& msg, GAMEPROTO_SC_HOST_USER_STAT& record);
void ReadHostStat(ILTMessage_Read& msg, GAMEPROTO_SC_HOST_STAT& record);
void ReadSpyChange(ILTMessage_Read& msg, GAMEPROTO_SC_SPY_CHANGE& record);
void ReadFinishedGamePrev(ILTMessage_Read& msg, PROTO_FINISHED_GAME_PREV& record);
void ReadSpecRecommendRoomIngameData(ILTMessage_Read& msg,
                                     PROTO_SPEC_RECOMMENDROOM_INGAME_DATA& record);

// The five fields after tIndex; the caller sets tIndex.
void ReadClanStatReport(ILTMessage_Read& msg, CLANSTATREPORTDATA& record);

// The readers below answer the trailing slotIndex the module sent.
uint8_t ReadBanUser(ILTMessage_Read& msg, PROTO_BAN_USER& record);
uint8_t ReadMapLoadingCompleteNty(ILTMessage_Read& msg,
                                  PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY& record);
uint8_t ReadMapLoadingCompleteNtyEx(ILTMessage_Read& msg,
                                    PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY& record);

struct ModuleValues {
  uint32_t first = 0;
  uint32_t second = 0;
};
ModuleValues ReadModuleValues(ILTMessage_Read& msg);

uint32_t ReadHeartbeatValue(ILTMessage_Read& msg);

struct CountAndSlot {
  EntryCount count;
  uint8_t slotIndex = 0;
};
CountAndSlot ReadAigachaItemInsert(ILTMessage_Read& msg,
                                   PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT& record);

void ReadFarmingItemReq(ILTMessage_Read& msg, PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ& record);

// Entries past the count keep USN all ones and value 0.
EntryCount ReadAi2BonusRoundRewardReq(ILTMessage_Read& msg,
                                      PROTO_AI2_BONUSROUND_REWARD_REQ& record);

// SERVERAPPMSG_AI3_BONUS_CLEARBOX_ITEM.
void ReadAi3BonusClearboxItem(ILTMessage_Read& msg,
                              PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ& record);

EntryCount ReadAutoSideChangeTeamInfoNty(ILTMessage_Read& msg,
                                         PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY& record);

void ReadAiExtraRewardReq(ILTMessage_Read& msg, PROTO_AI_EXTRA_REWARD_REQ& record);
void ReadAiBosstowerRewardReq(ILTMessage_Read& msg, PROTO_AI_BOSSTOWER_REWARD_REQ& record);
void ReadAiExtraMiddleRewardReq(ILTMessage_Read& msg, PROTO_AI_EXTRA_MIDDLE_REWARD_REQ& record);
void ReadIngameResultReq(ILTMessage_Read& msg, PROTO_INGAME_RESULT_REQ& record);

}  // namespace proto
