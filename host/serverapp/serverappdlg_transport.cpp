// Posts to the manager's window.
#include "platform/window.h"
#include "serverappdlg.h"

bool CServerAppDlg::IsManagerWindowValid() const {
  return m_hManagerWnd != 0 && platform::IsWindow(m_hManagerWnd);
}

bool CServerAppDlg::PostToManager(uint16_t msgID, int64_t lParam) {
  if (!IsManagerWindowValid()) return false;
  platform::WParam w_param =
      (static_cast<uint64_t>(static_cast<uint16_t>(m_sServerIndex)) << 16) | msgID;
  return platform::PostMessage(m_hManagerWnd, WM_GAMESERVER, w_param, lParam);
}
