// Writers of the module messages the host sends: each writes the 8-bit id
// and then the fields in stream order, so a forward in the dispatch is
// "create, Write..., ToReadable, SendToServerShell, Release".
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "interface/ltmessage.h"
#include "protocol/gameinfo.h"
#include "protocol/gameprotocommon.h"
#include "protocol/managerrecords.h"
#include "protocol/streamio.h"

namespace proto {

// SERVERAPPMSG_INIT: id 0, then the record's own write.
void WriteServerAppMsgInit(ILTMessage_Write& msg, PROTO_SERVERAPPMSG_INIT& init);

// SERVERAPPMSG_START_HOST. `afterUsers` runs right after the 209750-byte user
// block has been written (the update thread logs there).
void WriteStartHost(ILTMessage_Write& msg, const PROTO_START_HOST& info,
                    const std::function<void()>& afterUsers = {});

void WriteReset(ILTMessage_Write& msg);

// SERVERAPPMSG_INSERTCHARACTER: the low byte of SlotIdx, then the whole record.
void WriteInsertCharacter(ILTMessage_Write& msg, const PROTO_GAME_USER_INFO& user);

void WriteUserDisconnected(ILTMessage_Write& msg, uint64_t usn);

// The entry count is cut to the record's 30 entries, and the count written
// is the number of entries that follow.
EntryCount WriteAigachaGroupRateResult(ILTMessage_Write& msg,
                                       const PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT& result);

// The count goes out in 16 bits, but the entries written are as many as the
// full 32-bit count says, at most the record's 10; an end marker -1 follows.
EntryCount WriteAigachaItemInsertResult(
    ILTMessage_Write& msg, const PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT& result);

void WriteSpectatorRecommendRoomSelectNty(ILTMessage_Write& msg, uint8_t value);

// The start notice: group number and server index, 32 bits each.
void WriteServerInfo(ILTMessage_Write& msg, uint32_t groupNumber, uint32_t serverIndex);

void WriteLogSerial(ILTMessage_Write& msg, const std::string& serial);

void WriteAdditionalRoomInfo(ILTMessage_Write& msg, bool flag);

void WriteAutoMatchStartingUserInfo(ILTMessage_Write& msg,
                                    const PROTO_AUTO_MATCH_STARTING_USER_INFO& users);

}  // namespace proto
