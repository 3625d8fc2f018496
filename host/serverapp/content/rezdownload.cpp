#include "content/rezdownload.h"

#include <cstdio>

#include "content/rezname.h"
#include "hostlogger.h"
#include "platform/files.h"
#include "platform/runtime.h"
#include "platform/settings.h"

namespace {

// The private-profile reader's buffers are 260 bytes, as MAX_PATH.
constexpr size_t kProfileBuffer = 260;

std::string ReadUccSetting(const char* section, const char* key) {
  char value[kProfileBuffer] = {};
  platform::GetPrivateProfileString(section, key, "", value, sizeof(value), kUccSettingFile);
  return value;
}

}  // namespace

RezTempFile::~RezTempFile() {
  Close();
}

bool RezTempFile::OnOpened(int /*http_status*/) {
  file_ = platform::OpenForWrite(path_.c_str());
  if (file_ == platform::kInvalidFile) {
    open_error_ = platform::LastSystemError();
    return false;
  }
  return true;
}

bool RezTempFile::OnData(const void* data, std::size_t size) {
  if (!platform::WriteToFile(file_, data, size)) {
    write_error_ = platform::LastSystemError();
    write_failed_ = true;
    return false;
  }
  total_ += static_cast<int64_t>(size);
  return true;
}

void RezTempFile::Close() {
  platform::CloseFile(file_);
  file_ = platform::kInvalidFile;
}

std::string GetRezFilePath() {
  std::string folder = ReadUccSetting("rezrepositoryinfo", "RezFilePath");
  if (!folder.empty()) platform::CreateFolderChain(folder.c_str());
  if (folder.empty() || (folder.back() != '/' && folder.back() != '\\')) folder += '/';
  return folder;
}

bool RezFileExists(const std::string& path) {
  return platform::PathExists(path.c_str());
}

std::string RezTempFileName(const platform::LocalTime& time, const std::string& fileName) {
  char stamp[40];
  std::snprintf(stamp, sizeof(stamp), "%d%02d%02d_", time.minute, time.second, time.millisecond);
  return stamp + fileName + ".log";
}

int DownloadRezFile(const std::string& fileName, const platform::HttpGetLimits& limits,
                    uint32_t* lastError) {
  uint32_t ignored = 0;
  uint32_t& error = lastError != nullptr ? *lastError : ignored;
  error = 0;
  if (CheckRezFileName(fileName) != RezNameCheck::kOk) return REZ_DOWNLOAD_OPEN_FAILED;

  const std::string folder = GetRezFilePath();
  const std::string url = ReadUccSetting("fileserverurl", "ServerURL") + PercentEncode(fileName);
  const std::string temp_path = folder + RezTempFileName(platform::GetLocalTime(), fileName);

  RezTempFile receiver(temp_path);
  const platform::HttpGetResult result = platform::HttpGet(url.c_str(), limits, receiver);
  receiver.Close();

  switch (result.status) {
    case platform::HttpGetStatus::kOk:
      break;
    case platform::HttpGetStatus::kSessionFailed:
      error = result.error;
      return REZ_DOWNLOAD_NO_SESSION;
    case platform::HttpGetStatus::kOpenFailed:
      error = result.error;
      return REZ_DOWNLOAD_OPEN_FAILED;
    case platform::HttpGetStatus::kReadFailed:
      error = result.error;
      HostLog(HLOG_ERROR, "[ucclog] UCC file Write Error Number : %d)", static_cast<int>(error));
      return REZ_DOWNLOAD_READ_FAILED;
    case platform::HttpGetStatus::kStopped:
      if (receiver.write_failed()) {
        // A package cut short by a full disk must not be taken for whole.
        error = receiver.write_error();
        HostLog(HLOG_ERROR, "[ucclog] UCC file Write Error Number : %d)", static_cast<int>(error));
        return REZ_DOWNLOAD_READ_FAILED;
      }
      error = receiver.open_error();
      return REZ_DOWNLOAD_TOO_SHORT;  // the temporary file could not be created
  }

  if (receiver.total() <= kRezMaxRejectedBytes) return REZ_DOWNLOAD_TOO_SHORT;

  PlaceRezFile(temp_path, folder + fileName);
  return REZ_DOWNLOAD_OK;
}

void PlaceRezFile(const std::string& temp_path, const std::string& final_path) {
  if (RezFileExists(final_path)) {
    // Another instance placed the package while this transfer ran: its copy wins.
    if (!platform::DeleteFilePath(temp_path.c_str())) {
      HostLog(HLOG_ERROR, "[UCCLog] rez temp file delete fail. filename : %s, error Number : %d",
              temp_path.c_str(), static_cast<int>(platform::LastSystemError()));
    } else {
      HostLog(HLOG_INFO, "[UCCLog] rez temp file delete success. filename : %s", temp_path.c_str());
    }
  } else if (!platform::RenamePath(temp_path.c_str(), final_path.c_str())) {
    const uint32_t rename_error = platform::LastSystemError();
    if (RezFileExists(final_path)) {
      // Lost the race to another instance between the look and the rename.
      platform::DeleteFilePath(temp_path.c_str());
    } else {
      HostLog(HLOG_ERROR, "[UCCLog] rez temp file rename fail. filename : %s, error Number : %d",
              temp_path.c_str(), static_cast<int>(rename_error));
    }
  }
}
