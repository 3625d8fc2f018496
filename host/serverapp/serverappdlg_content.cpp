// The content-package list handed to the module at load (built by the
// content library).
#include "content/rezfilelist.h"
#include "serverappdlg.h"

bool CServerAppDlg::BuildRezFileList() {
  return ::BuildRezFileList(m_pServer);
}
