// Posts to the manager's window.
#include "platform/window.h"
#include "serverappdlg.h"

// The manager link owns the window, the index and the transport rules.
bool CServerAppDlg::IsManagerWindowValid() const {
  return m_ManagerLink.IsManagerWindowValid();
}

bool CServerAppDlg::PostToManager(uint16_t msgID, int64_t lParam) {
  return m_ManagerLink.PostToManager(msgID, lParam);
}
