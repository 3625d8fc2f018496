// HTTP GET for content packages.
//
// Stands in for the WinINet session, request and read loop of the package
// download (InternetOpenA, InternetConnectA, HttpOpenRequestA,
// InternetReadFile). The transfer
// is direct (no proxy, whatever the environment says) and blocks the calling
// thread until it ends; the limits below bound how long a dead, stalled or
// trickling server can hold that thread. The backend is libcurl on POSIX
// (library `httpget`), WinINet on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Bounds of one transfer. A zero leaves that bound off.
struct HttpGetLimits {
  // Name lookup and connection.
  uint32_t connect_timeout_ms = 0;
  // The transfer is aborted when its average speed stays below
  // low_speed_bytes_per_second for low_speed_seconds in a row, also while
  // the answer's head is awaited. Both must be set for the rule to apply.
  uint32_t low_speed_bytes_per_second = 0;
  uint32_t low_speed_seconds = 0;
  // The whole transfer, connection included.
  uint32_t total_timeout_ms = 0;
};

// How a transfer ended.
enum class HttpGetStatus : uint32_t {
  kOk = 0,             // the whole body was handed to the receiver
  kSessionFailed = 1,  // the HTTP library could not be set up
  kOpenFailed = 2,     // bad URL, no connection, a status other than 2xx, or
                       // a limit ran out before the receiver was opened
  kReadFailed = 3,     // the connection failed or a limit ran out after the
                       // receiver was opened
  kStopped = 4,        // the receiver answered false
};

struct HttpGetResult {
  HttpGetStatus status = HttpGetStatus::kSessionFailed;
  // The backend's error number for the failure (a CURLcode on POSIX, the
  // system error on Windows); the HTTP status when the server refused with
  // a status other than 2xx; 0 for kOk and kStopped.
  uint32_t error = 0;
  // The server's last HTTP status, 0 when no answer arrived.
  int http_status = 0;
};

// Where the body goes. Both calls come on the thread that called HttpGet.
class HttpGetReceiver {
 public:
  // Once per successful (2xx) answer, before its first body byte, or after
  // the transfer when the body is empty. False stops the transfer
  // (kStopped) before any byte is read.
  virtual bool OnOpened(int http_status) = 0;
  // A piece of the body, in order. False stops the transfer (kStopped).
  virtual bool OnData(const void* data, std::size_t size) = 0;

 protected:
  ~HttpGetReceiver() = default;
};

// Fetches `url` (http:// or https://; redirects to either are followed, at
// most 5) into `receiver` within `limits`. Safe from any thread; several
// transfers may run at once. Never throws.
HttpGetResult HttpGet(const char* url, const HttpGetLimits& limits, HttpGetReceiver& receiver);

}  // namespace platform
