// The update thread: frames paced by g_dwFrameInterval, the delivery of
// queued game and user information, readiness, and the pending reset notice.
#include <memory>

#include "framepacing.h"
#include "hostlogger.h"
#include "interface/hostltcommon.h"
#include "interface/igameserver.h"
#include "logmsgmanager.h"
#include "platform/identity.h"
#include "protocol/gameservermsg.h"
#include "protocol/serverappmsg.h"
#include "protocol/tomodule.h"
#include "queues.h"
#include "serverappdlg.h"
#include "serverglobals.h"

void CServerAppDlg::ThreadUpdate(void* pDialog) {
  auto* dlg = static_cast<CServerAppDlg*>(pDialog);
  platform::ManualResetEvent& stop = dlg->m_hStopEvent;
  uint32_t frame_start = platform::TimeGetTime();
  // The thread's own copies of the records it delivers (211406 and 4195
  // bytes), taken once rather than on the stack.
  auto game_info = std::make_unique<PROTO_START_HOST>();
  auto user_info = std::make_unique<PROTO_GAME_USER_INFO>();

  while (!stop.Wait(0)) {
    uint32_t frame_length = g_dwFrameInterval.load();
    // Set by the deliveries of queued game and user information. Each
    // record is taken out under its store lock, which is left before
    // g_csServer is entered for the delivery.
    bool work = false;
    while (PopGameInfo(*game_info, [dlg](const PROTO_START_HOST& record) {
      // The snapshot is written under the store lock, before the delivery.
      // A failed one is logged and the delivery goes on.
      switch (SaveGameInfoSnapshot(dlg->m_strCommandLine, record)) {
        case SnapshotResult::kOpenFailed:
          HostLog(HLOG_ERROR, "SaveGameInfo Failed : the file cannot be created");
          break;
        case SnapshotResult::kShortWrite:
          HostLog(HLOG_ERROR, "SaveGameInfo Failed : the record was not written whole");
          break;
        case SnapshotResult::kWritten:
        case SnapshotResult::kNoOption:
          break;
      }
    })) {
      work = true;
      platform::LockGuard lock(*g_csServer);
      dlg->SendGameInfo(*game_info);
    }
    while (PopUserInfo(*user_info)) {
      work = true;
      platform::LockGuard lock(*g_csServer);
      dlg->SendUserInfo(*user_info);
    }

    g_csServer->Enter();
    if (work) HostLog(HLOG_INFO, "CServerAppDlg::ThreadUpdate - CServerAppDlg::ServerUpdate Begin");
    dlg->ServerUpdate();
    if (work) HostLog(HLOG_INFO, "CServerAppDlg::ThreadUpdate - CServerAppDlg::ServerUpdate End");
    dlg->SendPendingReset();
    g_csServer->Leave();

    uint32_t now = platform::TimeGetTime();
    uint32_t wait = FrameWait(frame_start, frame_length, now);
    if (wait != 0) {
      if (work) HostLog(HLOG_INFO, "CServerAppDlg::ThreadUpdate - StopEvent Begin");
      stop.Wait(wait);
      if (work) HostLog(HLOG_INFO, "CServerAppDlg::ThreadUpdate - StopEvent End");
    }
    frame_start = NextFrameStart(now, wait, platform::TimeGetTime());
  }
  platform::DebuggerOutput(std::string(__FILE__) + "(" + std::to_string(__LINE__) +
                           ") : Game update thread is exiting.\n");
}

void CServerAppDlg::SendPendingReset() {
  int32_t expected = 1;
  if (!m_lPendingNotice.compare_exchange_strong(expected, 0)) return;
  if (m_pServer == nullptr) return;
  ILTMessage_Write* message = nullptr;
  if (g_pLTCommon == nullptr || g_pLTCommon->NewMessage(&message) != 0 || message == nullptr) {
    return;  // a message that cannot be created is not sent
  }
  message->Acquire();
  proto::WriteReset(*message);
  if (m_pServer->SendToServerShell(message->ToReadable()) != 0) HostLogEntryText(HLOG_FATAL, 40);
  message->Release();
}

void CServerAppDlg::ServerUpdate() {
  if (m_pServer == nullptr || m_bServerReady != 0) return;
  if (m_bUpdateRunning.load() && !m_pServer->IsPreparing(0)) {
    char text[SERVER_READY_TEXT_SIZE] = {};
    m_pServer->GetReadyText(text, SERVER_READY_TEXT_SIZE);
    m_bServerReady = 1;
    bool posted = PostToManager(GAMESERVERMSG_SERVER_READY, 0);
    HostLog(HLOG_INFO, "CServerAppDlg::ServerUpdate - server ready, GAMESERVERMSG_SERVER_READY %s",
            posted ? "posted" : "not posted");
  }
  // The content-download wait, polled only before the room is ready.
  m_Ucc.PollUccDownload();
}
