// GAMESERVERMSG_UCC_MAP_LOAD's call into the content download. Until the
// download is wired to the dialog, a map load that needs a package is
// reported to the manager as failed (reason 5), so the manager never waits
// for a load that cannot happen.
#include "content/uccdownload.h"
#include "hostlogger.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "protocol/postedparams.h"
#include "serverappdlg.h"

void CServerAppDlg::StartUccMapLoad(const stUCCGamePlay& play) {
  const auto map_index = static_cast<int16_t>(play.MapIndex & 0xFFFF);
  char name[sizeof(play.MapName) + 1] = {};
  for (size_t i = 0; i < sizeof(play.MapName) && play.MapName[i] != '\0'; ++i) {
    name[i] = play.MapName[i];
  }
  HostLog(HLOG_ERROR, "GAMESERVERMSG_UCC_MAP_LOAD - map %d [%s]: no content download, load failed",
          static_cast<int>(map_index), name);
  PostToManager(GAMESERVERMSG_LOADING_COMPLETE,
                proto::MakeLoadingCompleteFailure(map_index, kUccFailDownload));
}
