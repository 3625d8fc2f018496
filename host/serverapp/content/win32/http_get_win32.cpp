// HttpGet on Windows: one WinINet session, connection and request per call
// (InternetOpen, InternetConnect, HttpOpenRequest, HttpSendRequest).
//
// WinINet's own limits are per call (connect, each receive); the transfer's
// bounds are kept by the read loop: it waits for data with
// InternetQueryDataAvailable and reads only what has arrived, so that a
// trickling server is measured piece by piece, and it checks the low-speed
// window and the total time after every piece.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <wininet.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/fault_injection.h"
#include "platform/http_get.h"

namespace platform {
namespace {

constexpr DWORD kReadBuffer = 16 * 1024;

// Closes a WinINet handle at the end of the scope.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET get() const { return handle_; }

 private:
  HINTERNET handle_;
};

bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    char c = *text;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *prefix) return false;
  }
  return true;
}

void SetTimeout(HINTERNET handle, DWORD option, uint32_t ms) {
  DWORD value = ms;
  InternetSetOptionA(handle, option, &value, sizeof(value));
}

// The longest a single blocking WinINet call may wait: the low-speed window
// (nothing arriving for that long is too slow whatever the limit) and what
// is left of the total time. 0 when neither bound is set.
uint32_t CallBound(const HttpGetLimits& limits, uint64_t elapsed_ms) {
  uint32_t bound = 0;
  if (limits.low_speed_bytes_per_second != 0 && limits.low_speed_seconds != 0) {
    bound = limits.low_speed_seconds * 1000;
  }
  if (limits.total_timeout_ms != 0) {
    uint64_t left =
        elapsed_ms >= limits.total_timeout_ms ? 1 : limits.total_timeout_ms - elapsed_ms;
    bound = bound == 0 ? static_cast<uint32_t>(left)
                       : static_cast<uint32_t>(std::min<uint64_t>(bound, left));
  }
  return bound;
}

HttpGetResult Fail(HttpGetStatus status, uint32_t error, int http_status = 0) {
  HttpGetResult result;
  result.status = status;
  result.error = error;
  result.http_status = http_status;
  return result;
}

}  // namespace

HttpGetResult HttpGet(const char* url, const HttpGetLimits& limits, HttpGetReceiver& receiver) {
  const uint64_t start = GetTickCount64();
  if (url == nullptr || !(StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://"))) {
    return Fail(HttpGetStatus::kOpenFailed, ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  }
  // Direct access: no proxy, whatever the system's settings say.
  InternetHandle session(InternetOpenA("HTTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (session.get() == nullptr) return Fail(HttpGetStatus::kSessionFailed, GetLastError());
  if (limits.connect_timeout_ms != 0) {
    SetTimeout(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, limits.connect_timeout_ms);
    // A refused connection is not retried behind the caller's back.
    SetTimeout(session.get(), INTERNET_OPTION_CONNECT_RETRIES, 1);
  }
  if (uint32_t bound = CallBound(limits, 0); bound != 0) {
    SetTimeout(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, bound);
    SetTimeout(session.get(), INTERNET_OPTION_SEND_TIMEOUT, bound);
  }

  // The URL is taken apart here rather than by InternetOpenUrl, so that the
  // time-outs can be set on the connection and the request themselves (the
  // handles whose waits they bound; Wine's WinINet takes them only there).
  char host[256] = {};
  char path[2048] = {};
  char extra[2048] = {};
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof(host);
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = sizeof(path);
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = sizeof(extra);
  if (!InternetCrackUrlA(url, 0, 0, &parts))
    return Fail(HttpGetStatus::kOpenFailed, GetLastError());
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    return Fail(HttpGetStatus::kOpenFailed, ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  }
  std::string target = std::string(path[0] != '\0' ? path : "/") + extra;

  if (int e = fault::Check(fault::Point::kHttpConnect)) {
    return Fail(HttpGetStatus::kOpenFailed, static_cast<uint32_t>(e));
  }
  InternetHandle connection(InternetConnectA(session.get(), host, parts.nPort, nullptr, nullptr,
                                             INTERNET_SERVICE_HTTP, 0, 0));
  if (connection.get() == nullptr) return Fail(HttpGetStatus::kOpenFailed, GetLastError());
  // Never served from or kept in the system's cache: a package must be the
  // server's current one. Redirects are followed by WinINet.
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  InternetHandle request(HttpOpenRequestA(connection.get(), "GET", target.c_str(), nullptr, nullptr,
                                          nullptr, flags, 0));
  if (request.get() == nullptr) return Fail(HttpGetStatus::kOpenFailed, GetLastError());
  for (HINTERNET handle : {connection.get(), request.get()}) {
    if (limits.connect_timeout_ms != 0) {
      SetTimeout(handle, INTERNET_OPTION_CONNECT_TIMEOUT, limits.connect_timeout_ms);
    }
    if (uint32_t bound = CallBound(limits, 0); bound != 0) {
      SetTimeout(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, bound);
      SetTimeout(handle, INTERNET_OPTION_SEND_TIMEOUT, bound);
    }
  }
  if (!HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) {
    return Fail(HttpGetStatus::kOpenFailed, GetLastError());
  }

  DWORD code = 0;
  DWORD size = sizeof(code);
  if (!HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size,
                      nullptr)) {
    return Fail(HttpGetStatus::kOpenFailed, GetLastError());
  }
  const int http_status = static_cast<int>(code);
  if (http_status < 200 || http_status > 299) {
    return Fail(HttpGetStatus::kOpenFailed, code, http_status);
  }
  if (!receiver.OnOpened(http_status)) return Fail(HttpGetStatus::kStopped, 0, http_status);

  const bool low_speed_on = limits.low_speed_bytes_per_second != 0 && limits.low_speed_seconds != 0;
  const uint64_t window_ms = static_cast<uint64_t>(limits.low_speed_seconds) * 1000;
  const uint64_t window_bytes =
      static_cast<uint64_t>(limits.low_speed_bytes_per_second) * limits.low_speed_seconds;
  uint64_t window_start = GetTickCount64();
  uint64_t window_received = 0;
  char buffer[kReadBuffer];
  for (;;) {
    // Each wait is bounded anew by what is left of the total time.
    if (uint32_t bound = CallBound(limits, GetTickCount64() - start); bound != 0) {
      SetTimeout(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, bound);
    }
    if (int e = fault::Check(fault::Point::kHttpRead)) {
      return Fail(HttpGetStatus::kReadFailed, static_cast<uint32_t>(e), http_status);
    }
    // Waits for the next piece (bounded by the receive time-out); 0 at the
    // end of the body.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request.get(), &available, 0, 0)) {
      return Fail(HttpGetStatus::kReadFailed, GetLastError(), http_status);
    }
    DWORD read = 0;
    if (available != 0) {
      if (!InternetReadFile(request.get(), buffer, std::min<DWORD>(available, sizeof(buffer)),
                            &read)) {
        return Fail(HttpGetStatus::kReadFailed, GetLastError(), http_status);
      }
    }
    if (read == 0) break;
    if (!receiver.OnData(buffer, read)) return Fail(HttpGetStatus::kStopped, 0, http_status);

    const uint64_t now = GetTickCount64();
    window_received += read;
    if (low_speed_on && now - window_start >= window_ms) {
      if (window_received < window_bytes) {
        return Fail(HttpGetStatus::kReadFailed, ERROR_INTERNET_TIMEOUT, http_status);
      }
      window_start = now;
      window_received = 0;
    }
    if (limits.total_timeout_ms != 0 && now - start >= limits.total_timeout_ms) {
      return Fail(HttpGetStatus::kReadFailed, ERROR_INTERNET_TIMEOUT, http_status);
    }
  }
  HttpGetResult result;
  result.status = HttpGetStatus::kOk;
  result.http_status = http_status;
  return result;
}

}  // namespace platform
