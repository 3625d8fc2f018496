// The game-info and user-info stores: pushes from the window thread, pops
// from the update thread, each with its log lines.
#include "queues.h"

#include "hostlogger.h"
#include "logmsgmanager.h"
#include "platform/thread.h"
#include "serverglobals.h"

PROTO_START_HOST g_sGameInfos[kGameInfoStoreSize];
int32_t g_iQueuedGameInfosNum = 0;
PROTO_GAME_USER_INFO g_sUserInfos[kUserInfoStoreSize];
int32_t g_iQueuedUserInfosNum = 0;

namespace {

// Message-definition entries of the user pushes.
constexpr uint32_t kUserByAddressQueuedMsg = 34;
constexpr uint32_t kUserInfoTextsMsg = 39;
constexpr uint32_t kUserByAddressDroppedMsg = 47;

// The record's serial as text: the manager may leave it unterminated.
std::string SerialText(const PROTO_START_HOST& record) {
  const char* serial = record.GameLogSerial;
  size_t length = 0;
  while (length < sizeof(record.GameLogSerial) && serial[length] != '\0') ++length;
  return std::string(serial, length);
}

// A fixed text array up to its terminator or its end.
template <size_t N>
std::string FieldText(const char (&text)[N]) {
  size_t length = 0;
  while (length < N && text[length] != '\0') ++length;
  return std::string(text, length);
}

}  // namespace

bool PushGameInfo(const PROTO_START_HOST& record, int16_t tIndex) {
  platform::LockGuard lock(*g_csGameInfos);
  const std::string serial = SerialText(record);
  if (g_iQueuedGameInfosNum < 0 || g_iQueuedGameInfosNum >= kGameInfoStoreSize) {
    HostLog(HLOG_ERROR,
            "g_sGameInfos - Push GameInfo Failed : GameLogSerial %s, ServerIdx %d, "
            "g_iQueuedGameInfosNum %d",
            serial.c_str(), static_cast<int>(tIndex), g_iQueuedGameInfosNum);
    return false;
  }
  g_sGameInfos[g_iQueuedGameInfosNum] = record;
  ++g_iQueuedGameInfosNum;
  HostLog(HLOG_INFO,
          "g_sGameInfos - Push GameInfo Succeeded : GameLogSerial %s, ServerIdx %d, "
          "g_iQueuedGameInfosNum %d",
          serial.c_str(), static_cast<int>(tIndex), g_iQueuedGameInfosNum);
  return true;
}

bool PushUserInfo(const PROTO_GAME_USER_INFO& record, UserInfoSource source, int16_t tIndex) {
  platform::LockGuard lock(*g_csUserInfos);
  // Packed fields are copied into locals before use (never bound by reference).
  const uint64_t usn = record.USN;
  const int slot = record.SlotIdx;
  if (g_iQueuedUserInfosNum < 0 || g_iQueuedUserInfosNum >= kUserInfoStoreSize) {
    if (source == UserInfoSource::kCopyData) {
      HostLog(HLOG_ERROR,
              "g_sUserInfos - Push UserInfo Failed : USN %lld, SlotIdx %d, ServerIdx %d, "
              "g_iQueuedUserInfosNum %d",
              static_cast<long long>(usn), slot, static_cast<int>(tIndex), g_iQueuedUserInfosNum);
    } else {
      HostLogEntryText(HLOG_ERROR, kUserByAddressDroppedMsg);
    }
    return false;
  }
  PROTO_GAME_USER_INFO& stored = g_sUserInfos[g_iQueuedUserInfosNum];
  stored = record;
  ++g_iQueuedUserInfosNum;
  if (source == UserInfoSource::kCopyData) {
    HostLog(HLOG_INFO,
            "g_sUserInfos - Push UserInfo Succeeded : USN %lld, SlotIdx %d, ServerIdx %d, "
            "g_iQueuedUserInfosNum %d",
            static_cast<long long>(usn), slot, static_cast<int>(tIndex), g_iQueuedUserInfosNum);
    // One line from the stored copy, one from the received record: a
    // difference would show a torn copy.
    const int stored_slot = stored.SlotIdx;
    EtcInfoLogEntry(kUserInfoTextsMsg, stored_slot, FieldText(stored.FirstText),
                    FieldText(stored.SecondText), static_cast<int>(stored.TeamIdx));
    EtcInfoLogEntry(kUserInfoTextsMsg, slot, FieldText(record.FirstText),
                    FieldText(record.SecondText), static_cast<int>(record.TeamIdx));
  } else {
    HostLog(HLOG_INFO, "Recv GAMESERVERMSG_INSERTCHARACTER - USN %llu, SlotIdx %d",
            static_cast<unsigned long long>(usn), slot);
    EtcInfoLogEntry(kUserByAddressQueuedMsg, g_iQueuedUserInfosNum);
  }
  return true;
}

bool PopGameInfo(PROTO_START_HOST& out,
                 const std::function<void(const PROTO_START_HOST&)>& under_lock) {
  int32_t count = 0;
  {
    platform::LockGuard lock(*g_csGameInfos);
    if (g_iQueuedGameInfosNum <= 0) return false;
    HostLog(HLOG_INFO,
            "CServerAppDlg::ThreadUpdate SendGameInfo EnterCriticalSection - "
            "g_iQueuedGameInfosNum %d",
            g_iQueuedGameInfosNum);
    // A count above the store (it cannot get there through a push) is
    // clamped so that no read leaves the array.
    if (g_iQueuedGameInfosNum > kGameInfoStoreSize) g_iQueuedGameInfosNum = kGameInfoStoreSize;
    count = --g_iQueuedGameInfosNum;
    out = g_sGameInfos[count];
    if (under_lock) under_lock(out);
  }
  HostLog(
      HLOG_INFO,
      "CServerAppDlg::ThreadUpdate SendGameInfo LeaveCriticalSection - g_iQueuedGameInfosNum %d",
      count);
  return true;
}

bool PopUserInfo(PROTO_GAME_USER_INFO& out) {
  int32_t count = 0;
  {
    platform::LockGuard lock(*g_csUserInfos);
    if (g_iQueuedUserInfosNum <= 0) return false;
    HostLog(HLOG_INFO,
            "CServerAppDlg::ThreadUpdate SendUserInfo EnterCriticalSection - "
            "g_iQueuedUserInfosNum %d",
            g_iQueuedUserInfosNum);
    if (g_iQueuedUserInfosNum > kUserInfoStoreSize) g_iQueuedUserInfosNum = kUserInfoStoreSize;
    count = --g_iQueuedUserInfosNum;
    out = g_sUserInfos[count];
  }
  const uint64_t usn = out.USN;
  const int slot = out.SlotIdx;
  const std::string usn_text = std::to_string(static_cast<long long>(usn));
  HostLog(HLOG_INFO,
          "CServerAppDlg::ThreadUpdate SendUserInfo LeaveCriticalSection - g_iQueuedUserInfosNum "
          "%d, USN %s, SlotIdx %d",
          count, usn_text.c_str(), slot);
  return true;
}

void ClearQueues() {
  {
    platform::LockGuard lock(*g_csGameInfos);
    g_iQueuedGameInfosNum = 0;
  }
  platform::LockGuard lock(*g_csUserInfos);
  g_iQueuedUserInfosNum = 0;
}
