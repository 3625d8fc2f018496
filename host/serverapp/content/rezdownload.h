// The UCC repository folder and the download of one content package into it
// from the content file server named in ".\UCCSetting.ini".
#pragma once

#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/http_get.h"

// Read afresh at every use, relative to the current directory.
inline constexpr char kUccSettingFile[] = ".\\UCCSetting.ini";

// A transfer of this many bytes or fewer is not a package.
inline constexpr int64_t kRezMaxRejectedBytes = 10240;

// The bounds of a package transfer. It blocks the window thread, and with it
// the manager's heartbeats, so a server that does not answer, stalls or
// trickles is given up: connecting (name lookup included) within 5 s, at
// least 1024 bytes/s averaged over any 10 s, and 120 s for the whole transfer
// (a 100 MB package needs about 1 MB/s). See docs/content-download.md.
inline constexpr platform::HttpGetLimits kRezDownloadLimits{
    /*connect_timeout_ms=*/5000, /*low_speed_bytes_per_second=*/1024,
    /*low_speed_seconds=*/10, /*total_timeout_ms=*/120000};

// Result codes of DownloadRezFile.
enum RezDownloadCode : int {
  REZ_DOWNLOAD_OK = 0,           // the package is in place
  REZ_DOWNLOAD_NO_SESSION = 1,   // the HTTP session could not be opened
  REZ_DOWNLOAD_OPEN_FAILED = 2,  // the URL could not be opened (or answered non-2xx)
  REZ_DOWNLOAD_TOO_SHORT = 3,    // <= 10240 bytes, or no temporary file
  REZ_DOWNLOAD_READ_FAILED = 4,  // the connection (or the file write) failed midway
};

// The repository folder ("RezFilePath" of section "rezrepositoryinfo") with a
// '/' appended unless it already ends in a separator. Creates the folder and
// its parents on every call. A missing key gives "/".
std::string GetRezFilePath();

// True when something exists at `path`.
bool RezFileExists(const std::string& path);

// The temporary file's name for a transfer started at `time`:
// "%d%02d%02d_" of minute, second and millisecond, the package name, ".log".
std::string RezTempFileName(const platform::LocalTime& time, const std::string& fileName);

// The temporary file a transfer writes: created when the server's answer
// arrives, written as the body comes, counted. A failed create or write
// keeps the system's error number of that call (platform::LastSystemError).
class RezTempFile final : public platform::HttpGetReceiver {
 public:
  explicit RezTempFile(std::string path) : path_(std::move(path)) {}
  ~RezTempFile();
  RezTempFile(const RezTempFile&) = delete;
  RezTempFile& operator=(const RezTempFile&) = delete;

  bool OnOpened(int http_status) override;
  bool OnData(const void* data, std::size_t size) override;
  void Close();

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

// Puts a finished transfer in place: renames `temp_path` to `final_path`,
// unless a package of that name arrived meanwhile (another instance's copy
// wins and the temporary file is deleted). A failed delete or rename is
// logged with the system's error number of that call.
void PlaceRezFile(const std::string& temp_path, const std::string& final_path);

// Downloads "ServerURL" of section "fileserverurl" followed by the
// percent-encoded `fileName` into a temporary file of the repository folder
// and renames it to `fileName` there, unless a package of that name arrived
// meanwhile (the temporary file is then deleted). Blocks for the whole
// transfer, within `limits`. Answers a RezDownloadCode; `lastError` (may be
// null) receives the error number of the failure (the HTTP backend's code,
// the refusing HTTP status, or the system's last error for file failures:
// errno on POSIX, GetLastError on Windows), 0 on
// success. A name that is not a plain file name (rezname.h) answers
// REZ_DOWNLOAD_OPEN_FAILED at once, touching nothing.
int DownloadRezFile(const std::string& fileName,
                    const platform::HttpGetLimits& limits = kRezDownloadLimits,
                    uint32_t* lastError = nullptr);
