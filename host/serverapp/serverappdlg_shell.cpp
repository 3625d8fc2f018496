// OnShellMessage: the module's messages to the host. Each case reads the
// fields with the protocol's reader and either acts on the host or sends
// the manager a post or a record; the record layouts and stream orders
// live in the protocol library.
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "hostlogger.h"
#include "interface/ltmessage.h"
#include "logmsgmanager.h"
#include "protocol/frommodule.h"
#include "protocol/gameservermsg.h"
#include "protocol/payload.h"
#include "protocol/postedparams.h"
#include "protocol/serverappmsg.h"
#include "serverappdlg.h"
#include "serverglobals.h"

namespace {

// Message-definition entries this dispatch logs.
constexpr uint32_t kMsgLoadingComplete = 6;
constexpr uint32_t kMsgGameEnd = 10;
constexpr uint32_t kMsgShellLog = 11;

constexpr uint32_t kIdleFrameInterval = 10000;

std::string UsnText(uint64_t usn) {
  return std::to_string(static_cast<int64_t>(usn));
}

// Name of a module message for the dispatch's own log lines.
const char* MessageName(uint32_t id) {
  const char* name = proto::ServerAppMsgFromModuleName(id);
  return name != nullptr ? name : "SERVERAPPMSG_?";
}

void LogTruncatedCount(uint32_t id, const proto::EntryCount& count) {
  if (count.Truncated()) HostLogText(HLOG_ERROR, proto::EntryCountText(MessageName(id), count));
}

class ShellDispatch {
 public:
  ShellDispatch(CServerAppDlg& dlg, ILTMessage_Read& msg, uint32_t id)
      : dlg_(dlg), msg_(msg), id_(id) {}

  void Run();

 private:
  // The record send: tIndex and the record, under the record's own id. A
  // message that ended before its fields did is still relayed (the missing
  // fields read as zeros, as they always have), but logged.
  template <typename Record>
  void SendRecord(const Record& record) {
    NoteShortMessage();
    dlg_.SendPayloadToManager(proto::MakeRecordPayload(dlg_.m_sServerIndex, record));
  }
  void SendPayload(const proto::CopyDataPayload& payload) {
    NoteShortMessage();
    dlg_.SendPayloadToManager(payload);
  }
  void Post(uint16_t msgID, uint32_t lParam) {
    NoteShortMessage();
    dlg_.PostToManager(msgID, static_cast<int64_t>(lParam));
  }
  void NoteShortMessage() const {
    if (msg_.IsOverrun()) {
      HostLog(HLOG_ERROR, "OnShellMessage: %s ended before its fields, missing fields sent as 0",
              MessageName(id_));
    }
  }

  void LoadingComplete();
  void AddClient();
  void GameEnd();
  void LoadingFailed();
  void Ai3BonusClearboxItem();
  void AiExtraRewardReq();
  void AiExtraMiddleRewardReq();

  CServerAppDlg& dlg_;
  ILTMessage_Read& msg_;
  const uint32_t id_;
};

void ShellDispatch::LoadingComplete() {
  dlg_.m_AppHandler.SetGameEnded(false);
  dlg_.LogShellText(GetLogMsg(kMsgLoadingComplete), 0);
  const int16_t tMapIndex = proto::ReadLoadingComplete(msg_);
  if (!dlg_.IsManagerWindowValid()) return;
  Post(GAMESERVERMSG_LOADING_COMPLETE, proto::MakeLoadingCompleteSuccess(tMapIndex));
  HostLog(HLOG_INFO, "GAMESERVERMSG_LOADING_COMPLETE - tMapIndex %d", tMapIndex);
}

void ShellDispatch::AddClient() {
  const proto::AddClientFields fields = proto::ReadAddClient(msg_);
  std::string display = UsnText(fields.USN);
  if (fields.idKind >= 4 && fields.idKind <= 12) {
    // The first half is sign-extended before the or, as the manager expects.
    const int32_t value = static_cast<int32_t>(static_cast<uint32_t>(fields.second) << 16) |
                          static_cast<int32_t>(static_cast<int16_t>(fields.first));
    display = "RTID:" + display + ":" + std::to_string(value);
  }
  HostLog(HLOG_INFO, "Recv SERVERAPPMSG_ADDCLIENT - USN %s", display.c_str());
  Post(GAMESERVERMSG_ADDCLIENT, 0);
}

void ShellDispatch::GameEnd() {
  dlg_.m_AppHandler.SetGameEnded(true);
  HostLogEntryText(HLOG_ERROR, kMsgGameEnd);
  auto record = std::make_unique<GAMEPROTO_SS_GAMEEND>();  // 109984 bytes: not on the stack
  proto::ReadGameEnd(msg_, *record);
  SendRecord(*record);
}

void ShellDispatch::LoadingFailed() {
  const proto::LoadingFailedFields fields = proto::ReadLoadingFailed(msg_);
  NoteShortMessage();
  // The same report as a failed package download: entry 7 through
  // LogShellText, then the failure low word.
  dlg_.m_Ucc.ReportUccMapFail(fields.tMapIndex, fields.reason);
}

void ShellDispatch::Ai3BonusClearboxItem() {
  HostLog(HLOG_INFO, "CServerAppDlg::OnShellMessage::SERVERAPPMSG_AI3_BONUS_CLEARBOX_ITEM()");
  PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ record;
  proto::ReadAi3BonusClearboxItem(msg_, record);
  for (int i = 0; i < 8; ++i) {
    const uint64_t usn = record.Entries[i].USN;
    const int reward = record.Entries[i].IsReward;
    HostLog(HLOG_INFO, "\tusn = %s, Index = %d, IsReward = %d", UsnText(usn).c_str(), i, reward);
  }
  SendRecord(record);
}

void ShellDispatch::AiExtraRewardReq() {
  HostLog(HLOG_INFO, "CServerAppDlg-OnShellMessage::SERVERAPPMSG_AI_EXTRA_REWARD_REQ");
  PROTO_AI_EXTRA_REWARD_REQ record;
  proto::ReadAiExtraRewardReq(msg_, record);
  for (int i = 0; i < 8; ++i) {
    const uint64_t usn = record.Entries[i].USN;
    const int reward = record.Entries[i].IsReward;
    const int special = record.Entries[i].IsSpecialClear;
    HostLog(HLOG_INFO, "\tusn = %s, loop = %d, IsReward = %d, IsSpecialClear = %d",
            UsnText(usn).c_str(), i, reward, special);
  }
  SendRecord(record);
}

void ShellDispatch::AiExtraMiddleRewardReq() {
  HostLog(HLOG_INFO, "CServerAppDlg::OnShellMessage::SERVERAPPMSG_AI_EXTRA_MIDDLE_REWARD_REQ()");
  PROTO_AI_EXTRA_MIDDLE_REWARD_REQ record;
  proto::ReadAiExtraMiddleRewardReq(msg_, record);
  for (int i = 0; i < 8; ++i) {
    const uint64_t usn = record.USN[i];
    HostLog(HLOG_INFO, "\tusn = %s, i = %d", UsnText(usn).c_str(), i);
  }
  SendRecord(record);
}

void ShellDispatch::Run() {
  switch (id_) {
    case SERVERAPPMSG_LOADING_COMPLETE:
      return LoadingComplete();
    case SERVERAPPMSG_ADDCLIENT:
      return AddClient();
    case SERVERAPPMSG_REMOVECLIENT: {
      GAMEPROTO_SC_REMOVECLIENT record;
      proto::ReadRemoveClient(msg_, record);
      return SendRecord(record);
    }
    case SERVERAPPMSG_RESET_REQ:
      dlg_.m_lPendingNotice.exchange(1);
      return;
    case SERVERAPPMSG_GAMEEND:
      return GameEnd();
    case SERVERAPPMSG_HOST_USER_STAT: {
      auto record = std::make_unique<GAMEPROTO_SC_HOST_USER_STAT>();
      proto::ReadHostUserStat(msg_, *record);
      return SendRecord(*record);
    }
    case SERVERAPPMSG_LOADING_FAILED:
      return LoadingFailed();
    case SERVERAPPMSG_SHELL_LOG:
      dlg_.LogShellText(GetLogMsg(kMsgShellLog), 0);
      return;
    case SERVERAPPMSG_CLAN_STAT_REPORT: {
      CLANSTATREPORTDATA record;
      record.tIndex = dlg_.m_sServerIndex;
      proto::ReadClanStatReport(msg_, record);
      return SendPayload(proto::MakeClanStatPayload(record));
    }
    case SERVERAPPMSG_BAN_USER: {
      if (!dlg_.IsManagerWindowValid()) return;
      PROTO_BAN_USER record;
      proto::ReadBanUser(msg_, record);  // the slot matters only to the RWPM form
      return SendRecord(record);
    }
    case SERVERAPPMSG_MODULE_VALUES: {
      const proto::ModuleValues values = proto::ReadModuleValues(msg_);
      return Post(GAMESERVERMSG_MODULE_VALUES_NTY,
                  proto::MakeModuleValues(values.first, values.second));
    }
    case SERVERAPPMSG_HOST_STAT: {
      GAMEPROTO_SC_HOST_STAT record;
      proto::ReadHostStat(msg_, record);
      return SendRecord(record);
    }
    case SERVERAPPMSG_HEARTBEAT_VALUE:
      dlg_.m_dwHeartbeatValue.exchange(proto::ReadHeartbeatValue(msg_));
      return;
    case SERVERAPPMSG_AIGACHA_ITEM_INSERT: {
      PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT record;
      const proto::CountAndSlot read = proto::ReadAigachaItemInsert(msg_, record);
      LogTruncatedCount(id_, read.count);
      return SendRecord(record);
    }
    case SERVERAPPMSG_MAPLOADING_COMPLETE_NTY: {
      PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY record;
      proto::ReadMapLoadingCompleteNty(msg_, record);
      return SendRecord(record);
    }
    case SERVERAPPMSG_RELAY_27:
      return Post(GAMESERVERMSG_RELAY_27, 0);
    case SERVERAPPMSG_RELAY_28:
      return Post(GAMESERVERMSG_RELAY_28, 0);
    case SERVERAPPMSG_SPY_CHANGE: {
      GAMEPROTO_SC_SPY_CHANGE record;
      proto::ReadSpyChange(msg_, record);
      return SendRecord(record);
    }
    case SERVERAPPMSG_MAPLOADING_COMPLETE_NTY_EX: {
      PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY record;
      proto::ReadMapLoadingCompleteNtyEx(msg_, record);
      return SendRecord(record);
    }
    case SERVERAPPMSG_FARMING_ITEM_REQ: {
      PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ record;
      proto::ReadFarmingItemReq(msg_, record);
      return SendRecord(record);
    }
    case SERVERAPPMSG_AI2_BONUSROUND_REWARD_REQ: {
      PROTO_AI2_BONUSROUND_REWARD_REQ record;
      LogTruncatedCount(id_, proto::ReadAi2BonusRoundRewardReq(msg_, record));
      return SendRecord(record);
    }
    case SERVERAPPMSG_AI3_BONUS_CLEARBOX_ITEM:
      return Ai3BonusClearboxItem();
    case SERVERAPPMSG_FINISHED_GAME_PREV: {
      PROTO_FINISHED_GAME_PREV record;
      proto::ReadFinishedGamePrev(msg_, record);
      return SendRecord(record);
    }
    case SERVERAPPMSG_SPEC_RECOMMENDROOM_INGAME_DATA: {
      PROTO_SPEC_RECOMMENDROOM_INGAME_DATA record;
      proto::ReadSpecRecommendRoomIngameData(msg_, record);
      return SendRecord(record);
    }
    case SERVERAPPMSG_AUTO_SIDE_CHANGE_TEAM_INFO_NTY: {
      auto record = std::make_unique<PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY>();
      LogTruncatedCount(id_, proto::ReadAutoSideChangeTeamInfoNty(msg_, *record));
      return SendRecord(*record);
    }
    case SERVERAPPMSG_RELAY_40:
      return Post(GAMESERVERMSG_RELAY_40, 0);
    case SERVERAPPMSG_IDLE:
      g_dwFrameInterval.exchange(kIdleFrameInterval);
      return;
    case SERVERAPPMSG_AI_EXTRA_REWARD_REQ:
      return AiExtraRewardReq();
    case SERVERAPPMSG_AI_BOSSTOWER_REWARD_REQ: {
      HostLog(HLOG_INFO, "CServerAppDlg::OnShellMessage::SERVERAPPMSG_AI_BOSSTOWER_REWARD_REQ()");
      PROTO_AI_BOSSTOWER_REWARD_REQ record;
      proto::ReadAiBosstowerRewardReq(msg_, record);
      return SendRecord(record);
    }
    case SERVERAPPMSG_AI_EXTRA_MIDDLE_REWARD_REQ:
      return AiExtraMiddleRewardReq();
    case SERVERAPPMSG_INGAME_RESULT_REQ: {
      HostLog(HLOG_INFO, "CServerAppDlg::OnShellMessage::SERVERAPPMSG_INGAME_RESULT_REQ()");
      PROTO_INGAME_RESULT_REQ record;
      proto::ReadIngameResultReq(msg_, record);
      return SendRecord(record);
    }
    case SERVERAPPMSG_AUTO_MATCH_STARTING_USER_INFO_ACK:
      HostLog(HLOG_INFO, "GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO_ACK");
      return SendPayload(proto::MakeAutoMatchStartingUserInfoAckPayload(dlg_.m_sServerIndex));
    default:  // ids without a row, and everything above 51
      // Nothing: no line either, since a module that sends such an id every
      // frame would flood the log.
      return;
  }
}

}  // namespace

void CServerAppDlg::OnShellMessage(ILTMessage_Read* pMessage) {
  if (pMessage == nullptr) return;
  const uint32_t id = pMessage->ReadBits(8);
  if (pMessage->IsOverrun()) {
    // Fewer than 8 bits would read as id 0 (the map-loaded row), which
    // clears the game-ended flag and tells the manager a map loaded.
    HostLog(HLOG_ERROR, "OnShellMessage: message of %u bits, shorter than its 8-bit id, ignored",
            static_cast<unsigned>(pMessage->Size()));
    return;
  }
  // Nothing thrown here may reach the module: a failed guarded read (or a
  // failed allocation) abandons this message only.
  try {
    ShellDispatch(*this, *pMessage, id).Run();
  } catch (const proto::ReadError& error) {
    HostLog(HLOG_ERROR, "OnShellMessage: %s in %s, message abandoned", error.what(),
            MessageName(id));
  } catch (const std::exception& error) {
    HostLog(HLOG_ERROR, "OnShellMessage: %s in %s, message abandoned", error.what(),
            MessageName(id));
  }
}
