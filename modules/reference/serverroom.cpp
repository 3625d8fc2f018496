// The room: what the reference server does with the messages the host
// delivers, and how it answers them. A map initialisation is answered with
// SERVERAPPMSG_LOADING_COMPLETE (or LOADING_FAILED when the LoadingFailReason
// switch asks), an inserted character with SERVERAPPMSG_ADDCLIENT, a
// disconnected user with SERVERAPPMSG_REMOVECLIENT.
#include <cstring>
#include <memory>

#include "interface/ltmessage.h"
#include "interface/serverapphandler.h"
#include "moduledatabase.h"
#include "protocol/gameinfo.h"
#include "protocol/gameprotocommon.h"
#include "protocol/relayrecords.h"
#include "protocol/serverappmsg.h"
#include "protocol/streamio.h"
#include "server.h"

namespace refmod {

ILTMessage_Write* CReferenceServer::NewMessage() {
  if (handler_ == nullptr) return nullptr;
  ILTMessage_Write* message = nullptr;
  if (ModuleLTCommon().NewMessage(&message) != 0 || message == nullptr) return nullptr;
  message->Acquire();
  return message;
}

void CReferenceServer::SendBuilt(ILTMessage_Write* pMessage) {
  if (pMessage == nullptr) return;
  if (handler_ != nullptr && !pMessage->HasError())
    handler_->OnShellMessage(pMessage->ToReadable());
  pMessage->Release();
}

int32_t CReferenceServer::SendToServerShell(ILTMessage_Read* pMessage) {
  if (pMessage == nullptr) return 1;
  ModuleLTCommon().NoteReceived(pMessage);
  ++messages_;
  CrashIfArmedElsewhere();
  const uint32_t id = pMessage->ReadBits(8);
  switch (id) {
    case SERVERAPPMSG_SERVER_INFO:
      group_ = pMessage->ReadBits(32);
      server_index_ = static_cast<int32_t>(pMessage->ReadBits(32));
      trace_.Line("SendToServerShell id=%u group=%u index=%d", id, group_, server_index_);
      break;
    case SERVERAPPMSG_INIT:
      OnMapInit(*pMessage);
      break;
    case SERVERAPPMSG_START_HOST:
      OnStartHost(*pMessage);
      break;
    case SERVERAPPMSG_INSERTCHARACTER:
      OnInsertCharacter(*pMessage);
      break;
    case SERVERAPPMSG_USER_DISCONNECTED:
      OnUserDisconnected(*pMessage);
      break;
    case SERVERAPPMSG_RESET:
      OnReset();
      break;
    case SERVERAPPMSG_LOG_SERIAL: {
      char serial[256] = {};
      pMessage->ReadString(serial, sizeof(serial));
      std::lock_guard<std::mutex> lock(room_lock_);
      room_.log_serial = serial;
      trace_.Line("SendToServerShell id=%u serial=%s", id, serial);
      break;
    }
    case SERVERAPPMSG_ADDITIONAL_ROOM_INFO: {
      const bool flag = proto::ReadBool(*pMessage);
      std::lock_guard<std::mutex> lock(room_lock_);
      room_.additional_flag = flag;
      trace_.Line("SendToServerShell id=%u flag=%d", id, flag ? 1 : 0);
      break;
    }
    default:
      trace_.Line("SendToServerShell id=%u bits=%u", id, pMessage->Size());
      break;
  }
  // A message that ended before its fields did is refused.
  return pMessage->IsOverrun() ? 2 : 0;
}

void CReferenceServer::OnMapInit(ILTMessage_Read& msg) {
  PROTO_SERVERAPPMSG_INIT init;
  init.Read(msg);
  {
    std::lock_guard<std::mutex> lock(room_lock_);
    ++room_.map_inits;
    room_.map_index = init.tMapIndex;
    room_.round_type = init.roundType;
    room_.match_type = init.MatchType;
    room_.load_flag = init.bLoad;
    room_.second_flag = init.bSecondFlag;
  }
  trace_.Line("SendToServerShell id=%u map=%d round=%u match=%u load=%d second=%d",
              static_cast<unsigned>(SERVERAPPMSG_INIT), init.tMapIndex, init.roundType,
              init.MatchType, init.bLoad ? 1 : 0, init.bSecondFlag ? 1 : 0);
  if (msg.IsOverrun() || !switches_.room_answers) return;

  ILTMessage_Write* answer = NewMessage();
  if (answer == nullptr) return;
  if (switches_.loading_fail_reason != 0) {
    proto::WriteU8(*answer, SERVERAPPMSG_LOADING_FAILED);
    proto::WriteI16(*answer, init.tMapIndex);
    proto::WriteI8(*answer, static_cast<int8_t>(switches_.loading_fail_reason));
  } else {
    proto::WriteU8(*answer, SERVERAPPMSG_LOADING_COMPLETE);
    proto::WriteI16(*answer, init.tMapIndex);
  }
  SendBuilt(answer);
}

void CReferenceServer::OnStartHost(ILTMessage_Read& msg) {
  // The room keeps a summary; the stream order is the host's WriteStartHost.
  proto::ReadBool(msg);
  const uint32_t first = proto::ReadU32(msg);
  std::lock_guard<std::mutex> lock(room_lock_);
  ++room_.game_infos;
  room_.game_info_bits = msg.Size();
  room_.game_info_first = first;
  trace_.Line("SendToServerShell id=%u bits=%u first=%u",
              static_cast<unsigned>(SERVERAPPMSG_START_HOST), msg.Size(), first);
}

void CReferenceServer::OnInsertCharacter(ILTMessage_Read& msg) {
  const int8_t slot = proto::ReadI8(msg);
  auto user = std::make_unique<PROTO_GAME_USER_INFO>();
  proto::ReadRecordData(msg, *user);
  const uint64_t usn = user->USN;
  const bool valid = !msg.IsOverrun() && slot >= 0 && slot < RoomState::kSlots;
  if (valid) {
    std::lock_guard<std::mutex> lock(room_lock_);
    if (!room_.slot_used[slot]) users_.fetch_add(1);
    room_.slot_used[slot] = true;
    room_.slot_usn[slot] = usn;
  }
  trace_.Line("SendToServerShell id=%u slot=%d usn=%lld users=%d",
              static_cast<unsigned>(SERVERAPPMSG_INSERTCHARACTER), slot,
              static_cast<long long>(usn), users_.load());
  if (!valid || !switches_.room_answers) return;

  ILTMessage_Write* answer = NewMessage();
  if (answer == nullptr) return;
  proto::WriteU8(*answer, SERVERAPPMSG_ADDCLIENT);
  proto::WriteU64(*answer, usn);
  proto::WriteU32(*answer, static_cast<uint32_t>(switches_.addclient_id_kind));
  proto::WriteU16(*answer, static_cast<uint16_t>(slot));
  proto::WriteU16(*answer, 0);
  SendBuilt(answer);
}

void CReferenceServer::OnUserDisconnected(ILTMessage_Read& msg) {
  const uint64_t usn = proto::ReadU64(msg);
  int slot = -1;
  {
    std::lock_guard<std::mutex> lock(room_lock_);
    for (int i = 0; i < RoomState::kSlots && !msg.IsOverrun(); ++i) {
      if (room_.slot_used[i] && room_.slot_usn[i] == usn) {
        room_.slot_used[i] = false;
        room_.slot_usn[i] = 0;
        users_.fetch_sub(1);
        slot = i;
        break;
      }
    }
  }
  trace_.Line("SendToServerShell id=%u usn=%lld slot=%d users=%d",
              static_cast<unsigned>(SERVERAPPMSG_USER_DISCONNECTED), static_cast<long long>(usn),
              slot, users_.load());
  // A user the room does not know has no client to remove.
  if (slot < 0 || !switches_.room_answers) return;

  ILTMessage_Write* answer = NewMessage();
  if (answer == nullptr) return;
  GAMEPROTO_SC_REMOVECLIENT record;
  record.f32 = static_cast<int64_t>(usn);
  record.slotIndex = static_cast<uint8_t>(slot);
  proto::WriteU8(*answer, SERVERAPPMSG_REMOVECLIENT);
  proto::WriteBytes(*answer, &record, sizeof(record));
  SendBuilt(answer);
}

void CReferenceServer::OnReset() {
  uint32_t resets = 0;
  {
    std::lock_guard<std::mutex> lock(room_lock_);
    room_.slot_used.fill(false);
    room_.slot_usn.fill(0);
    resets = ++room_.resets;
    users_.store(0);
  }
  trace_.Line("SendToServerShell id=%u reset resets=%u", static_cast<unsigned>(SERVERAPPMSG_RESET),
              resets);
}

}  // namespace refmod
