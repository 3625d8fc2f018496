// The dialog's destruction: the module is stopped and freed before the
// locks it was used under are deleted.
#include "hostlogger.h"
#include "logmsgmanager.h"
#include "serverappdlg.h"
#include "serverglobals.h"

CServerAppDlg::~CServerAppDlg() {
  // The modal loop has ended, and with it the window, as the dialog
  // framework destroys it there: a manager that sends to the room during
  // the shutdown (up to the update thread's 5 s grace) gets 0 at once
  // instead of waiting for a loop that no longer runs.
  if (m_pWindow) m_pWindow->Close();
  // A package wait still open is abandoned first, so that the update
  // thread's last frames hand no map to a module that is being stopped.
  m_Ucc.CloseRequest();
  StopServer();
  m_pFeed.reset();
  // Locks a parked thread may own are left as they are, never deleted.
  if (!m_bLocksAbandoned) {
    delete g_csServer;
    delete g_csGameInfos;
    delete g_csUserInfos;
    g_csServer = g_csGameInfos = g_csUserInfos = nullptr;
  }
  ReleaseLogMsgManager();
  m_pWindow.reset();
}
