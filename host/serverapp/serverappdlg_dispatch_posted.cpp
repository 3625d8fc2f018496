// The manager's posted messages (WM_USER+0x40, msgID in wParam): each is
// acted on, forwarded to the module, or queued for the update thread.

#include "hostlogger.h"
#include "interface/igameserver.h"
#include "logmsgmanager.h"
#include "platform/runtime.h"
#include "protocol/gameprotocommon.h"
#include "protocol/gameservermsg.h"
#include "protocol/postedparams.h"
#include "protocol/tomodule.h"
#include "queues.h"
#include "serverappdlg.h"
#include "serverglobals.h"

namespace {

constexpr uint32_t kIdleFrameInterval = 10000;
constexpr uint32_t kResetRoomMsg = 42;
constexpr uint32_t kUserDisconnectedFailedMsg = 44;

}  // namespace

uint32_t FrameIntervalForRoundType(uint8_t roundType) {
  switch (roundType) {
    case 42:
    case 43:
    case 44:
      return 12;
    case 11:
    case 15:
    case 24:
    case 26:
    case 41:
    case 47:
      return 100;
    default:
      return 50;
  }
}

void CServerAppDlg::OnGameServerMessage(platform::WParam wParam, platform::LParam lParam) {
  const int tIndex = m_sServerIndex;
  switch (wParam) {
    case GAMESERVERMSG_HOST_HEARTBEAT: {
      if (!IsManagerWindowValid()) return;
      platform::LockGuard lock(*g_csServer);
      if (m_lIdleRequest.load() != 0 && m_pServer != nullptr && m_pServer->GetUserCount() == 0) {
        g_dwFrameInterval.exchange(kIdleFrameInterval);
        m_lIdleRequest.exchange(0);
      }
      if (m_bServerReady.load() == 0) {
        // The count is asked afresh: the room may have changed meanwhile.
        const uint32_t users =
            m_pServer != nullptr ? static_cast<uint32_t>(m_pServer->GetUserCount()) : 0;
        const uint32_t ack = proto::MakeHeartbeatAck(users, m_dwHeartbeatValue.load());
        if (!PostToManager(GAMESERVERMSG_HOST_HEARTBEAT_ACK, ack)) {
          HostLog(HLOG_INFO, "S_P_F: HOST_HEARTBEAT : %d",
                  static_cast<int>(platform::LastSystemError()));
        }
      }
      m_nHeartbeatMisses = 0;
      return;
    }
    case GAMESERVERMSG_LOAD_MAP: {
      const proto::LoadMapParams map = proto::UnpackLoadMap(static_cast<uint64_t>(lParam));
      m_byCurrentRoundType.store(map.roundType);
      m_lIdleRequest.exchange(0);
      g_dwFrameInterval.exchange(FrameIntervalForRoundType(map.roundType));
      HostLog(HLOG_INFO,
              "GAMESERVERMSG_LOAD_MAP - tMapIndex[%d] roundType[%d] MatchType(diff_order)[%d]",
              static_cast<int>(map.tMapIndex), static_cast<int>(map.roundType),
              static_cast<int>(map.MatchType));
      PROTO_SERVERAPPMSG_INIT init;
      init.tMapIndex = map.tMapIndex;
      init.roundType = map.roundType;
      init.bLoad = true;
      init.cFixed = -1;
      init.MatchType = map.MatchType;
      init.bSecondFlag = false;
      ForwardToModule([&](ILTMessage_Write& msg) { proto::WriteServerAppMsgInit(msg, init); });
      return;
    }
    case GAMESERVERMSG_START_HOST:
      m_ManagerLink.LogRecvNotice(GAMESERVERMSG_START_HOST, lParam);
      m_ManagerLink.FetchRecord<PROTO_START_HOST>(
          lParam, [&](const PROTO_START_HOST& record) { PushGameInfo(record, m_sServerIndex); });
      return;
    case GAMESERVERMSG_RESET_ROOM:
      m_lIdleRequest.exchange(1);
      HostLogEntryText(HLOG_INFO, kResetRoomMsg);
      m_lPendingNotice.exchange(1);
      return;
    case GAMESERVERMSG_TERMINATE:
      EndByManagerRequest();
      return;
    case GAMESERVERMSG_INSERTCHARACTER:
      m_ManagerLink.LogRecvNotice(GAMESERVERMSG_INSERTCHARACTER, lParam);
      m_ManagerLink.FetchRecord<PROTO_GAME_USER_INFO>(
          lParam, [&](const PROTO_GAME_USER_INFO& record) {
            PushUserInfo(record, UserInfoSource::kAddress, m_sServerIndex);
          });
      return;
    case GAMESERVERMSG_USER_DISCONNECTED:
      m_ManagerLink.LogRecvNotice(GAMESERVERMSG_USER_DISCONNECTED, lParam);
      m_ManagerLink.FetchRecord<PROTO_USER_DISCONNECTED>(
          lParam, [&](const PROTO_USER_DISCONNECTED& record) {
            const uint64_t usn = record.USN;
            ForwardToModule([&](ILTMessage_Write& msg) { proto::WriteUserDisconnected(msg, usn); },
                            [] { HostLogEntryText(HLOG_FATAL, kUserDisconnectedFailedMsg); });
          });
      return;
    case GAMESERVERMSG_AIGACHA_GROUP_RATE_RESULT:
      m_ManagerLink.LogRecvNotice(GAMESERVERMSG_AIGACHA_GROUP_RATE_RESULT, lParam);
      m_ManagerLink.FetchRecord<PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT>(
          lParam, [&](const PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT& record) {
            ForwardToModule([&](ILTMessage_Write& msg) {
              const proto::EntryCount count = proto::WriteAigachaGroupRateResult(msg, record);
              if (count.Truncated()) {
                HostLog(HLOG_ERROR, "%s",
                        proto::EntryCountText("GAMESERVERMSG_AIGACHA_GROUP_RATE_RESULT", count)
                            .c_str());
              }
            });
          });
      return;
    case GAMESERVERMSG_AIGACHA_ITEM_INSERT_RESULT:
      m_ManagerLink.LogRecvNotice(GAMESERVERMSG_AIGACHA_ITEM_INSERT_RESULT, lParam);
      m_ManagerLink.FetchRecord<PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT>(
          lParam, [&](const PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT& record) {
            ForwardToModule([&](ILTMessage_Write& msg) {
              const proto::EntryCount count = proto::WriteAigachaItemInsertResult(msg, record);
              if (count.Truncated()) {
                HostLog(HLOG_ERROR, "%s",
                        proto::EntryCountText("GAMESERVERMSG_AIGACHA_ITEM_INSERT_RESULT", count)
                            .c_str());
              }
            });
          });
      return;
    case GAMESERVERMSG_SPECTATOR_RECOMMEND_ROOM_SELECT_NTY: {
      const auto value = static_cast<uint8_t>(lParam & 0xFF);
      ForwardToModule(
          [&](ILTMessage_Write& msg) { proto::WriteSpectatorRecommendRoomSelectNty(msg, value); },
          [] {
            HostLog(HLOG_ERROR,
                    "Error while processing SendToServerShell() - "
                    "GAMESERVERMSG_SPECTATOR_RECOMMEND_ROOM_SELECT_NTY\r\n");
          });
      return;
    }
    case GAMESERVERMSG_ADDITIONAL_ROOM_INFO: {
      const bool flag = lParam != 0;
      ForwardToModule([&](ILTMessage_Write& msg) { proto::WriteAdditionalRoomInfo(msg, flag); },
                      [] {
                        HostLog(HLOG_ERROR,
                                "Error while processing SendToServerShell() - "
                                "GAMESERVERMSG_ADDITIONAL_ROOM_INFO\r\n");
                      });
      return;
    }
    case GAMESERVERMSG_RWPM_ADDRESS_TABLE:
      // The fetch installs the table only when the whole of it was read,
      // and writes its own "[RECV]" dump.
      m_ManagerLink.LogRecvNotice(GAMESERVERMSG_RWPM_ADDRESS_TABLE, lParam);
      m_ManagerLink.ReceiveAddressTable(lParam);
      return;
    default:
      HostLog(HLOG_ERROR, "Not Supported Message!!!!! tIndex[%d], msgID[%d]\n", tIndex,
              static_cast<int>(static_cast<int32_t>(wParam)));
      return;
  }
}
