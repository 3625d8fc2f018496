// The manager's window messages as they reach the dialog: the routing of
// posted, sent and timer messages, the one forward procedure to the module,
// the timers and the manager's terminate request.
#include <memory>

#include "crashhook.h"
#include "hostlogger.h"
#include "interface/hostltcommon.h"
#include "interface/igameserver.h"
#include "logmsgmanager.h"
#include "platform/settings.h"
#include "protocol/relayrecords.h"
#include "serverappdlg.h"
#include "serverglobals.h"

namespace {

constexpr uint64_t kGameEndTimer = 0;
constexpr uint64_t kHeartbeatTimer = 1;
// The fourth silent tick of timer 1 ends the host.
constexpr int32_t kHeartbeatMissLimit = 3;

constexpr uint32_t kDeliveryFailedMsg = 41;
constexpr uint32_t kTerminateMsg = 43;
constexpr uint32_t kGameEndTimerMsg = 49;

constexpr char kSettingFile[] = ".\\Setting.ini";

}  // namespace

void CServerAppDlg::OnPost(uint32_t msg, platform::WParam w_param, platform::LParam l_param) {
  if (msg == WM_GAMESERVER) {
    OnGameServerMessage(w_param, l_param);
  } else if (msg == platform::kWmTimer) {
    // A WM_TIMER posted by another program is handled as the timer's own.
    OnTimer(w_param);
  }
}

platform::LResult CServerAppDlg::OnSend(uint32_t msg, platform::WParam w_param,
                                        platform::LParam l_param, const platform::CopyData& copy) {
  if (msg == WM_GAMESERVER) {
    // The manager posts these; one sent instead would be acted on while its
    // sender waits, so it is left alone, but not unseen.
    HostLog(HLOG_ERROR,
            "WM_USER+0x40 arrived by SendMessage, not posted: ignored. tIndex[%d], msgID[%llu], "
            "lParam[%lld]",
            static_cast<int>(m_sServerIndex), static_cast<unsigned long long>(w_param),
            static_cast<long long>(l_param));
    return 0;
  }
  if (msg != platform::kWmCopyData) return 0;
  return OnCopyData(static_cast<platform::WindowHandle>(w_param), copy);
}

void CServerAppDlg::OnTimer(uint64_t timer_id) {
  if (timer_id == kGameEndTimer) {
    if (m_pWindow) m_pWindow->KillTimer(kGameEndTimer);
    HostLogEntryText(HLOG_ERROR, kGameEndTimerMsg);
    // An empty game end: the manager receives tIndex and 109984 zero bytes.
    auto record = std::make_unique<GAMEPROTO_SS_GAMEEND>();
    m_ManagerLink.SendRecordToManager(*record);
  } else if (timer_id == kHeartbeatTimer) {
    if (++m_nHeartbeatMisses > kHeartbeatMissLimit) EndByManagerRequest();
  }
  // The framework's default timer handling does nothing more here.
}

void CServerAppDlg::ForwardToModule(const std::function<void(ILTMessage_Write&)>& write,
                                    const std::function<void()>& on_failure) {
  platform::LockGuard lock(*g_csServer);
  ILTMessage_Write* message = nullptr;
  // A writer that cannot be created: nothing is sent, nothing is logged.
  if (g_pLTCommon == nullptr || g_pLTCommon->NewMessage(&message) != 0 || message == nullptr) {
    return;
  }
  message->Acquire();
  write(*message);
  // Without a module there is nobody to deliver to; that is no failure.
  if (m_pServer != nullptr && m_pServer->SendToServerShell(message->ToReadable()) != 0) {
    if (on_failure) {
      on_failure();
    } else {
      HostLogEntryText(HLOG_FATAL, kDeliveryFailedMsg);
    }
  }
  message->Release();
}

void CServerAppDlg::EndByManagerRequest() {
  InstallQuietCrashFilterHook();
  HostLogEntryText(HLOG_INFO, kTerminateMsg);
  EndDialog(platform::kIdOk);
}

uint32_t CServerAppDlg::ArmHeartbeatWatchdog() {
  const auto period = static_cast<int32_t>(
      platform::GetPrivateProfileInt("GameMgmt", "HeartbeatWatchdogMs", 0, kSettingFile));
  if (period <= 0 || !m_pWindow) return 0;
  m_nHeartbeatMisses = 0;
  if (!m_pWindow->SetTimer(kHeartbeatTimer, static_cast<uint32_t>(period))) return 0;
  HostLog(HLOG_INFO,
          "Heartbeat watchdog armed: timer 1 every %d ms, the host ends after %d silent ticks",
          period, kHeartbeatMissLimit + 1);
  return static_cast<uint32_t>(period);
}
