// GAMESERVERMSG_UCC_MAP_LOAD's one call into the content download: the
// request goes to the dialog's CUccDownload, which checks the package name,
// hands the map over when the package is present, or downloads it and
// leaves the wait to the update thread's ServerUpdate.
#include "content/uccdownload.h"
#include "protocol/managerrecords.h"
#include "serverappdlg.h"

void CServerAppDlg::StartUccMapLoad(const stUCCGamePlay& play) {
  // The dispatch has already copied at most the record's size into a zeroed
  // record, so a short payload leaves the rest zero.
  m_Ucc.BeginUccMapLoad(play);
}
