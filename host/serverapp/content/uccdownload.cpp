#include "content/uccdownload.h"

#include <cstdio>

#include "content/rezname.h"
#include "hostlogger.h"
#include "interface/igameserver.h"
#include "interface/iltcommon.h"
#include "logmsgmanager.h"
#include "protocol/gameprotocommon.h"
#include "protocol/gameservermsg.h"
#include "protocol/postedparams.h"
#include "protocol/tomodule.h"

namespace {

// A name as it may be printed in a log line: control bytes as \xNN.
std::string Printable(std::string_view name) {
  std::string out;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", byte);
      out += escaped;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

CUccDownload::CUccDownload(UccDownloadHost host, platform::HttpGetLimits limits)
    : host_(std::move(host)), limits_(limits) {}

CUccDownload::State CUccDownload::GetState() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

void CUccDownload::CloseRequest() {
  std::lock_guard<std::mutex> lock(mutex_);
  state_.m_bUccRequestOpen = false;
  ++serial_;
}

void CUccDownload::BeginUccMapLoad(const stUCCGamePlay& record) {
  const int16_t map_index = static_cast<int16_t>(record.MapIndex & 0xFFFF);
  const std::optional<std::string> field = NameFromField(record.MapName, sizeof(record.MapName));
  const RezNameCheck check = field ? CheckRezFileName(*field) : RezNameCheck::kNotTerminated;
  if (check != RezNameCheck::kOk) {
    const std::string shown =
        Printable(field ? *field : std::string(record.MapName, sizeof(record.MapName)));
    HostLog(HLOG_ERROR, "[UCCLog] rez file name refused (%s). filename : %s",
            RezNameCheckText(check), shown.c_str());
    CloseRequest();
    ReportUccMapFail(map_index, kUccFailDownload);
    return;
  }
  const std::string& name = *field;

  uint64_t serial = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.m_UccGamePlay = UccGamePlay{};
    state_.m_UccGamePlay.MapIndex = record.MapIndex;
    state_.m_UccGamePlay.RoundType = record.RoundType;
    state_.m_UccGamePlay.MatchType = record.MatchType;
    state_.m_UccGamePlay.MapName = name;
    // The poll leaves the request alone until the download has finished.
    state_.m_bDownloading = true;
    state_.m_bUccRequestOpen = true;
    serial = ++serial_;
  }

  if (RezFileExists(GetRezFilePath() + name)) {
    HostLog(HLOG_INFO, "[UCCLog] Already Has the rez file. filename : %s", name.c_str());
    HandOver(serial);
    std::lock_guard<std::mutex> lock(mutex_);
    state_.m_bDownloading = false;
    return;
  }

  HostLog(HLOG_INFO, "[UCCLog] start rez file download. filename : %s", name.c_str());
  uint32_t error = 0;
  const int code = DownloadRezFile(name, limits_, &error);
  if (code != REZ_DOWNLOAD_OK) {
    HostLog(HLOG_ERROR,
            "[UCCLog] rez file download fail (HTTPERROR) reason : %d, filename : %s, Error "
            "Number : %d",
            code, name.c_str(), static_cast<int>(error));
    ReportUccMapFail(map_index, kUccFailDownload);
  }

  // The request stays open either way: the package may still arrive.
  const uint32_t now = host_.TimeGetTime();
  std::lock_guard<std::mutex> lock(mutex_);
  // Only the window thread sets the flag, so no newer request can own it.
  state_.m_bDownloading = false;
  if (serial != serial_) return;  // closed by the teardown meanwhile
  state_.m_dwUccWaitStart = now;
  state_.m_dwUccWaitElapsed = 0;
}

void CUccDownload::PollUccDownload() {
  uint64_t serial = 0;
  std::string name;
  int16_t map_index = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_.m_bUccRequestOpen || state_.m_bDownloading) return;
    serial = serial_;
    name = state_.m_UccGamePlay.MapName;
    map_index = static_cast<int16_t>(state_.m_UccGamePlay.MapIndex & 0xFFFF);
  }

  const uint32_t now = host_.TimeGetTime();
  if (RezFileExists(GetRezFilePath() + name)) {
    HostLog(HLOG_INFO, "[UCCLog] rez file download success. filename : %s", name.c_str());
    HandOver(serial);
  }

  bool timed_out = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (serial != serial_) return;  // handed over, closed or replaced meanwhile
    // Unsigned 32-bit: the clock's wrap gives the right step.
    state_.m_dwUccWaitElapsed += now - state_.m_dwUccWaitStart;
    state_.m_dwUccWaitStart = now;
    if (state_.m_bUccRequestOpen && state_.m_dwUccWaitElapsed > kUccWaitTimeoutMs) {
      timed_out = true;
      state_.m_dwUccWaitElapsed = 0;
      state_.m_bUccRequestOpen = false;
      ++serial_;
    }
  }
  if (timed_out) {
    HostLog(HLOG_ERROR, "[UCCLog] rez file download fail. (TIMEOUT) filename : %s", name.c_str());
    ReportUccMapFail(map_index, kUccFailTimeout);
  }
}

void CUccDownload::LoadUccMap() {
  UccGamePlay play;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_.m_bUccRequestOpen) return;
    play = state_.m_UccGamePlay;
  }
  Deliver(play);
}

void CUccDownload::HandOver(uint64_t serial) {
  UccGamePlay play;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_.m_bUccRequestOpen || serial != serial_) return;
    play = state_.m_UccGamePlay;
    state_.m_bUccRequestOpen = false;
    ++serial_;
  }
  Deliver(play);
}

void CUccDownload::Deliver(const UccGamePlay& play) {
  host_.StartMapFrames(kUccMapFrameInterval);
  host_.WithModule([&play](IGameServer* server, ILTCommon* common) {
    if (server == nullptr || common == nullptr) {
      HostLog(HLOG_ERROR, "[UCCLog] no server module to load the map. filename : %s",
              play.MapName.c_str());
      return;
    }
    ILTMessage_Write* message = nullptr;
    if (common->NewMessage(&message) != 0 || message == nullptr) return;
    message->Acquire();
    PROTO_SERVERAPPMSG_INIT init;
    init.tMapIndex = static_cast<int16_t>(play.MapIndex & 0xFFFF);
    init.roundType = static_cast<uint8_t>(play.RoundType & 0xFF);
    init.bLoad = true;
    init.cFixed = -1;  // 255 in its 8 bits
    init.MatchType = static_cast<uint8_t>(play.MatchType & 0xFF);
    init.bSecondFlag = false;
    proto::WriteServerAppMsgInit(*message, init);
    if (server->SendToServerShell(message->ToReadable()) != 0) {
      HostLogEntryText(HLOG_FATAL, kUccDeliveryFailedLogMsg);
    }
    message->Release();
  });
}

void CUccDownload::ReportUccMapFail(int16_t mapIndex, int8_t reason) {
  host_.LogShellText(GetLogMsg(kUccFailLogMsg), 0);
  host_.PostToManager(GAMESERVERMSG_LOADING_COMPLETE,
                      static_cast<int64_t>(proto::MakeLoadingCompleteFailure(mapIndex, reason)));
}
