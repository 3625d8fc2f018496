// The dialog object: construction, the modal loop and the window handlers.
#include "serverappdlg.h"

#include "hostlogger.h"
#include "interface/hostltcommon.h"
#include "serverglobals.h"

CServerAppDlg::CServerAppDlg(std::vector<std::string> args)
    : m_Ucc(UccDownloadHost{
          .TimeGetTime = platform::TimeGetTime,
          .PostToManager = [this](uint16_t id, int64_t l) { return PostToManager(id, l); },
          .LogShellText = [this](const std::string& t, uint32_t lv) { LogShellText(t, lv); },
          // As the manager's map load does: the room is no longer idle.
          .StartMapFrames =
              [this](uint32_t ms) {
                m_lIdleRequest.exchange(0);
                g_dwFrameInterval.exchange(ms);
              },
          .WithModule =
              [this](const std::function<void(IGameServer*, ILTCommon*)>& call) {
                platform::LockGuard lock(*g_csServer);
                call(m_pServer, g_pLTCommon);
              },
      }),
      m_args(std::move(args)) {
  for (size_t i = 0; i < m_args.size(); ++i) {
    if (i != 0) m_strCommandLine += ' ';
    m_strCommandLine += m_args[i];
  }
  m_AppHandler.SetDialog(this);
  g_csServer = new platform::RecursiveLock;
  g_csGameInfos = new platform::RecursiveLock;
  g_csUserInfos = new platform::RecursiveLock;
  g_dwFrameInterval.store(10000);
}

int64_t CServerAppDlg::DoModal() {
  std::string error;
  m_pWindow = platform::Window::Create(*this, 0, &error);
  if (!m_pWindow) {
    platform::ShowMessageBox("ServerApp window could not be created: " + error);
    m_nModalResult = -1;
    return m_nModalResult;
  }
  StartDialogFeed();
  OnInitDialog();
  m_nModalResult = m_pWindow->Run();
  // The feed lives on until the destructor has shut the module down: a stop
  // signal repeated meanwhile then only ends a loop that has already ended,
  // instead of killing the process halfway through its shutdown.
  return m_nModalResult;
}

void CServerAppDlg::EndDialog(int64_t result) {
  if (m_pWindow) m_pWindow->End(result);
}

platform::WindowHandle CServerAppDlg::GetSafeHwnd() const {
  return m_pWindow ? m_pWindow->handle() : 0;
}

void CServerAppDlg::StartDialogFeed() {
  platform::DialogFeedHandlers handlers;
  platform::Window* window = m_pWindow.get();
  handlers.on_console_line = [this, window](const std::string& line) {
    window->Invoke([this, line] { OnConsoleGo(line); });
  };
  // Queued behind the lines read before it, so that piped commands all run.
  handlers.on_console_end = [window] {
    window->Invoke([window] { window->End(platform::kIdCancel); });
  };
  handlers.on_terminate = [window] { window->End(platform::kIdOk); };
  handlers.on_interrupt = [window] { window->End(platform::kIdCancel); };
  m_pFeed = platform::StartDialogFeed(std::move(handlers));
}

void CServerAppDlg::ShowMessageBox(const std::string& text) {
  platform::ShowMessageBox(text);
  if (m_bLoggerUp) HostLog(HLOG_ERROR, "MessageBox: %s", text.c_str());
}

// OnPost, OnSend and OnTimer: serverappdlg_dispatch.cpp.
