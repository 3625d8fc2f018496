// Delivery of the queued game and user information to the module, and the
// acknowledgements to the manager. Runs on the update thread with
// g_csServer held.
#include <string>

#include "hostlogger.h"
#include "interface/hostltcommon.h"
#include "interface/igameserver.h"
#include "logmsgmanager.h"
#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"
#include "protocol/tomodule.h"
#include "serverappdlg.h"

namespace {

constexpr uint32_t kStartHostUsersWrittenMsg = 29;
constexpr uint32_t kStartHostFailedMsg = 30;
constexpr uint32_t kStartHostDeliveredMsg = 31;
constexpr uint32_t kStartHostAckMsg = 32;
constexpr uint32_t kGameInfoHandledMsg = 33;
constexpr uint32_t kInsertCharacterFailedMsg = 37;

ILTMessage_Write* NewWriter() {
  ILTMessage_Write* message = nullptr;
  if (g_pLTCommon == nullptr || g_pLTCommon->NewMessage(&message) != 0) return nullptr;
  return message;
}

}  // namespace

void CServerAppDlg::SendGameInfo(const PROTO_START_HOST& record) {
  // A writer that cannot be created sends nothing; the manager is still
  // acknowledged, as after a failed delivery.
  if (ILTMessage_Write* message = NewWriter()) {
    message->Acquire();
    proto::WriteStartHost(*message, record,
                          [this] { LogShellText(GetLogMsg(kStartHostUsersWrittenMsg), 0); });
    if (m_pServer != nullptr && m_pServer->SendToServerShell(message->ToReadable()) != 0) {
      HostLogEntryText(HLOG_FATAL, kStartHostFailedMsg);
    }
    HostLogEntryText(HLOG_INFO, kStartHostDeliveredMsg);
    message->Release();
  }
  if (IsManagerWindowValid()) {
    PostToManager(GAMESERVERMSG_START_HOST_ACK, 0);
    HostLogEntryText(HLOG_INFO, kStartHostAckMsg);
  }
  HostLogEntryText(HLOG_INFO, kGameInfoHandledMsg);
}

void CServerAppDlg::SendUserInfo(const PROTO_GAME_USER_INFO& record) {
  if (ILTMessage_Write* message = NewWriter()) {
    message->Acquire();
    proto::WriteInsertCharacter(*message, record);
    if (m_pServer != nullptr && m_pServer->SendToServerShell(message->ToReadable()) != 0) {
      HostLogEntryText(HLOG_FATAL, kInsertCharacterFailedMsg);
    }
    message->Release();
  }
  if (!IsManagerWindowValid()) return;
  // A blocking send to the manager's window, made on the update thread.
  const uint64_t usn = record.USN;
  if (m_ManagerLink.SendInsertCharacterAck(usn)) {
    const std::string usn_text = std::to_string(static_cast<long long>(usn));
    HostLog(HLOG_INFO, "GAMESERVERMSG_INSERTCHARACTER_ACK - USN %s, SlotIdx %d, TeamIdx %d",
            usn_text.c_str(), static_cast<int>(record.SlotIdx), static_cast<int>(record.TeamIdx));
  }
}
