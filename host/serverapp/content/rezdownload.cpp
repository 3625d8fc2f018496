#include "content/rezdownload.h"

#include <cerrno>
#include <cstdio>

#include "content/rezname.h"
#include "hostlogger.h"
#include "platform/files.h"
#include "platform/settings.h"

namespace {

// The private-profile reader's buffers are 260 bytes, as MAX_PATH.
constexpr size_t kProfileBuffer = 260;

std::string ReadUccSetting(const char* section, const char* key) {
  char value[kProfileBuffer] = {};
  platform::GetPrivateProfileString(section, key, "", value, sizeof(value), kUccSettingFile);
  return value;
}

uint32_t LastSystemError() {
  // The files seam reports failure as false; on POSIX the failing call left
  // its errno, which is the number the log lines want.
  return static_cast<uint32_t>(errno);
}

// Writes the body into the temporary file, opened when the server's answer
// arrives, and counts it.
class TempFileReceiver final : public platform::HttpGetReceiver {
 public:
  explicit TempFileReceiver(std::string path) : path_(std::move(path)) {}
  ~TempFileReceiver() { Close(); }

  bool OnOpened(int /*http_status*/) override {
    file_ = platform::OpenForWrite(path_.c_str());
    if (file_ == platform::kInvalidFile) {
      open_error_ = LastSystemError();
      return false;
    }
    return true;
  }

  bool OnData(const void* data, std::size_t size) override {
    if (!platform::WriteToFile(file_, data, size)) {
      write_error_ = LastSystemError();
      write_failed_ = true;
      return false;
    }
    total_ += static_cast<int64_t>(size);
    return true;
  }

  void Close() {
    platform::CloseFile(file_);
    file_ = platform::kInvalidFile;
  }

  bool write_failed() const { return write_failed_; }
  uint32_t open_error() const { return open_error_; }
  uint32_t write_error() const { return write_error_; }
  int64_t total() const { return total_; }

 private:
  std::string path_;
  platform::FileHandle file_ = platform::kInvalidFile;
  int64_t total_ = 0;
  bool write_failed_ = false;
  uint32_t open_error_ = 0;
  uint32_t write_error_ = 0;
};

}  // namespace

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

  TempFileReceiver receiver(temp_path);
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

  const std::string final_path = folder + fileName;
  if (RezFileExists(final_path)) {
    // Another instance placed the package while this transfer ran: its copy wins.
    if (!platform::DeleteFilePath(temp_path.c_str())) {
      HostLog(HLOG_ERROR, "[UCCLog] rez temp file delete fail. filename : %s, error Number : %d",
              temp_path.c_str(), static_cast<int>(LastSystemError()));
    } else {
      HostLog(HLOG_INFO, "[UCCLog] rez temp file delete success. filename : %s", temp_path.c_str());
    }
  } else if (!platform::RenamePath(temp_path.c_str(), final_path.c_str())) {
    const uint32_t rename_error = LastSystemError();
    if (RezFileExists(final_path)) {
      // Lost the race to another instance between the look and the rename.
      platform::DeleteFilePath(temp_path.c_str());
    } else {
      HostLog(HLOG_ERROR, "[UCCLog] rez temp file rename fail. filename : %s, error Number : %d",
              temp_path.c_str(), static_cast<int>(rename_error));
    }
  }
  return REZ_DOWNLOAD_OK;
}
