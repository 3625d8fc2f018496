// The manager's WM_COPYDATA messages (msgID in dwData). Fixed-size records
// take min(record size, cbData) bytes over their defaults: a short payload
// keeps the defaulted tail, a long one is cut. Only the auto-match user
// block must have its exact size.
#include <memory>

#include "hostlogger.h"
#include "logmsgmanager.h"
#include "platform/identity.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "protocol/payload.h"
#include "protocol/tomodule.h"
#include "queues.h"
#include "serverappdlg.h"
#include "serverglobals.h"

namespace {

constexpr uint32_t kUserDisconnectedFailedMsg = 44;

// Takes a fixed-size record. A payload of another size is the manager's
// mistake: the runtime's debug size assertion reports it, and the record is
// still taken (cut, or its tail left at the defaults).
template <typename Record>
size_t TakeRecord(Record& record, const void* data, size_t size) {
  if (size != sizeof(Record)) {
    platform::ReportAssertion("tSize == pCopyDataStruct->cbData", __FILE__, __LINE__);
  }
  return proto::CopyPayloadInto(record, data, size);
}

// Logs a cut entry count of an AI gacha result.
void LogEntryCount(const char* what, const proto::EntryCount& count) {
  if (count.Truncated()) HostLog(HLOG_ERROR, "%s", proto::EntryCountText(what, count).c_str());
}

}  // namespace

platform::LResult CServerAppDlg::OnCopyData(platform::WindowHandle,
                                            const platform::CopyData& copy) {
  const void* data = copy.data.data();
  const size_t size = copy.data.size();
  if (m_ManagerLink.IsRwpmReadMode()) {
    HostLog(HLOG_ERROR, "[RWPM][ERROR : Not Supported!!] tIndex[%d], pCopyDataStruct->dwData=%d",
            static_cast<int>(m_sServerIndex), static_cast<int>(copy.dw_data));
  }

  switch (copy.dw_data) {
    case GAMESERVERMSG_START_HOST: {
      // 211406 bytes: never on the window thread's stack.
      auto record = std::make_unique<PROTO_START_HOST>();
      TakeRecord(*record, data, size);
      PushGameInfo(*record, m_sServerIndex);
      break;
    }
    case GAMESERVERMSG_INSERTCHARACTER: {
      auto record = std::make_unique<PROTO_GAME_USER_INFO>();
      TakeRecord(*record, data, size);
      PushUserInfo(*record, UserInfoSource::kCopyData, m_sServerIndex);
      break;
    }
    case GAMESERVERMSG_AIGACHA_ITEM_INSERT_RESULT: {
      PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT record;
      TakeRecord(record, data, size);
      ForwardToModule([&](ILTMessage_Write& msg) {
        LogEntryCount("GAMESERVERMSG_AIGACHA_ITEM_INSERT_RESULT",
                      proto::WriteAigachaItemInsertResult(msg, record));
      });
      break;
    }
    case GAMESERVERMSG_AIGACHA_GROUP_RATE_RESULT: {
      PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT record;
      TakeRecord(record, data, size);
      ForwardToModule([&](ILTMessage_Write& msg) {
        LogEntryCount("GAMESERVERMSG_AIGACHA_GROUP_RATE_RESULT",
                      proto::WriteAigachaGroupRateResult(msg, record));
      });
      break;
    }
    case GAMESERVERMSG_LOG_SERIAL: {
      const std::string serial = proto::LogSerialFromPayload(data, size);
      ForwardToModule([&](ILTMessage_Write& msg) { proto::WriteLogSerial(msg, serial); });
      break;
    }
    case GAMESERVERMSG_USER_DISCONNECTED: {
      PROTO_USER_DISCONNECTED record;  // all ones until the payload says otherwise
      TakeRecord(record, data, size);
      const uint64_t usn = record.USN;
      ForwardToModule([&](ILTMessage_Write& msg) { proto::WriteUserDisconnected(msg, usn); },
                      [] { HostLogEntryText(HLOG_FATAL, kUserDisconnectedFailedMsg); });
      break;
    }
    case GAMESERVERMSG_UCC_MAP_LOAD: {
      stUCCGamePlay play{};
      TakeRecord(play, data, size);
      StartUccMapLoad(play);
      break;
    }
    case GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO: {
      platform::LockGuard lock(*g_csServer);
      if (size != sizeof(PROTO_AUTO_MATCH_STARTING_USER_INFO)) {
        platform::ReportAssertion("tSize == pCopyDataStruct->cbData", __FILE__, __LINE__);
        HostLog(HLOG_ERROR, "SERVERAPPMSG_AUTO_MATCH_STARTING_USER_INFO - Failed");
        break;
      }
      HostLog(HLOG_INFO, "SERVERAPPMSG_AUTO_MATCH_STARTING_USER_INFO");
      auto users = std::make_unique<PROTO_AUTO_MATCH_STARTING_USER_INFO>();
      proto::CopyPayloadInto(*users, data, size);
      ForwardToModule(
          [&](ILTMessage_Write& msg) { proto::WriteAutoMatchStartingUserInfo(msg, *users); });
      break;
    }
    default:
      // Nothing takes it: a line keeps the message from vanishing unseen.
      HostLog(HLOG_ERROR, "Not Supported CopyData!!!!! tIndex[%d], dwData[%llu], cbData[%zu]",
              static_cast<int>(m_sServerIndex), static_cast<unsigned long long>(copy.dw_data),
              size);
      break;
  }
  // The framework's default copy-data handling answers 0.
  return 0;
}
