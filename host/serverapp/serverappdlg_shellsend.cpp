// The copy-data send of the module-to-manager dispatch: through the
// dialog's manager link, so that every record to the manager leaves
// through one place (wParam the host's window, only while the manager
// window is valid, blocking until the manager has handled it).
#include "protocol/payload.h"
#include "serverappdlg.h"

bool CServerAppDlg::SendPayloadToManager(const proto::CopyDataPayload& payload) {
  return m_ManagerLink.SendCopyDataToManager(payload);
}
