// CUccDownload: the content-package map load. The manager names a map whose
// package (a .rez file) the host may not have; the host makes sure the
// package lies in its UCC repository folder, downloading it when missing,
// then has the module load the map, or tells the manager the load failed.
//
// The dialog owns one object and wires it to itself through UccDownloadHost,
// so this logic knows nothing of windows, locks or globals:
//   - BeginUccMapLoad on the window thread, for GAMESERVERMSG_UCC_MAP_LOAD;
//     it blocks for the download (bounded by the transfer limits);
//   - PollUccDownload from ServerUpdate on the update thread, with g_csServer
//     held, only while the module is not ready yet;
//   - ReportUccMapFail also for the module's own loading failures.
// The request's state has its own lock, never held while calling out, so
// the two threads meet only on g_csServer (taken through WithModule).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "content/rezdownload.h"
#include "platform/http_get.h"
#include "protocol/managerrecords.h"

class IGameServer;
class ILTCommon;

// The summed waiting time after which a missing package is given up.
inline constexpr uint32_t kUccWaitTimeoutMs = 60000;
// The frame length once the map is handed to the module.
inline constexpr uint32_t kUccMapFrameInterval = 50;
// Failure reasons sent to the manager with GAMESERVERMSG_LOADING_COMPLETE.
inline constexpr int8_t kUccFailDownload = 5;
inline constexpr int8_t kUccFailTimeout = 6;
// Message-definition entries: the failure notice, the failed delivery.
inline constexpr uint32_t kUccFailLogMsg = 7;
inline constexpr uint32_t kUccDeliveryFailedLogMsg = 41;

// What the content download needs from the dialog. Every member must be set.
struct UccDownloadHost {
  // timeGetTime: 32-bit milliseconds.
  std::function<uint32_t()> TimeGetTime;
  // Posts WM_USER+0x40 with (tIndex << 16) | msgID to the manager when its
  // window is valid; answers whether a post was made.
  std::function<bool(uint16_t msgID, int64_t lParam)> PostToManager;
  // The dialog's LogShellText.
  std::function<void(const std::string& text, uint32_t level)> LogShellText;
  // Atomically clears the idle request flag and sets g_dwFrameInterval.
  std::function<void(uint32_t frameInterval)> StartMapFrames;
  // Runs `call` while holding g_csServer, with the server object (null when
  // none) and the module's common interface (null when none).
  std::function<void(const std::function<void(IGameServer*, ILTCommon*)>& call)> WithModule;
};

// The request being served.
struct UccGamePlay {
  uint32_t MatchType = 0;
  uint32_t RoundType = 0;
  uint32_t MapIndex = 0;
  std::string MapName;  // the package file name
};

class CUccDownload {
 public:
  explicit CUccDownload(UccDownloadHost host, platform::HttpGetLimits limits = kRezDownloadLimits);
  CUccDownload(const CUccDownload&) = delete;
  CUccDownload& operator=(const CUccDownload&) = delete;

  // GAMESERVERMSG_UCC_MAP_LOAD: hands the map over at once when the package
  // is present; otherwise downloads it (a failure is reported with reason 5
  // at once) and starts the wait that PollUccDownload runs. A name that is
  // not a plain file name is refused before any file or network access,
  // logged and reported with reason 5; it closes any earlier request.
  void BeginUccMapLoad(const stUCCGamePlay& record);

  // The wait, once per update frame: hands the map over when the package is
  // there; after more than 60000 ms of summed waiting reports reason 6 and
  // closes the request. Does nothing while no request is open or its
  // download still runs.
  void PollUccDownload();

  // Hands the open request's map to the module (frames of 50 ms, then
  // SERVERAPPMSG_INIT under g_csServer). Does nothing when none is open.
  void LoadUccMap();

  // Tells the manager that loading map `mapIndex` failed for `reason`.
  void ReportUccMapFail(int16_t mapIndex, int8_t reason);

  // Closes any request (the dialog's teardown).
  void CloseRequest();

  // A copy of the state, for the console and tests.
  struct State {
    UccGamePlay m_UccGamePlay;
    bool m_bUccRequestOpen = false;
    bool m_bDownloading = false;  // BeginUccMapLoad has not finished
    uint32_t m_dwUccWaitStart = 0;
    uint32_t m_dwUccWaitElapsed = 0;
  };
  State GetState() const;

 private:
  // Delivers the request numbered `serial` when it is still the open one,
  // closing it in the same step so that a newer request is never handed
  // over for an older one's package.
  void HandOver(uint64_t serial);
  void Deliver(const UccGamePlay& play);

  UccDownloadHost host_;
  platform::HttpGetLimits limits_;
  mutable std::mutex mutex_;
  State state_;
  uint64_t serial_ = 0;  // counts requests
};
