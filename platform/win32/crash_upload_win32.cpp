// The crash upload's PUTs over WinHTTP: one session and one connection per
// upload, a request per part, synchronous calls, the time-outs of
// SetHttpTimeouts on every session.
//
// WinHTTP resolves the name itself (through the system's proxy settings when
// there are any), so HttpResolve only keeps host and port. The handles live
// in the seam's objects on the caller's stack: a dying process should not
// need the heap for its own bookkeeping.
#include <atomic>
#include <cstring>
#include <string>

#include "platform/crash_upload.h"
#include "platform/fault_injection.h"
#include "win32_text.h"
// After windows.h, which it needs.
#include <winhttp.h>

namespace platform {
namespace {

std::atomic<uint32_t> g_connect_ms{3000};
std::atomic<uint32_t> g_io_ms{5000};

// Endpoint layout: the host name (NUL-terminated) from the start, the port
// in the last two bytes.
constexpr size_t kPortOffset = sizeof(HttpEndpoint::address) - 2;

// Narrow (in code page) to wide, into a fixed buffer; false when it does not
// fit.
bool ToWide(const char* text, wchar_t* out, int capacity, UINT code_page) {
  if (text[0] == '\0') {
    out[0] = L'\0';
    return true;
  }
  int n = MultiByteToWideChar(code_page, 0, text, -1, out, capacity);
  return n > 0;
}

}  // namespace

uint32_t HttpResolve(const char* host, uint16_t port, HttpEndpoint* out) {
  out->address_size = 0;
  size_t n = host != nullptr ? std::strlen(host) : 0;
  if (n == 0 || n + 1 > kPortOffset) return ERROR_WINHTTP_INVALID_URL;
  std::memset(out->address, 0, sizeof(out->address));
  std::memcpy(out->address, host, n + 1);
  std::memcpy(out->address + kPortOffset, &port, sizeof(port));
  out->address_size = static_cast<uint32_t>(n + 1);
  return 0;
}

void SetHttpTimeouts(uint32_t connect_ms, uint32_t io_ms) {
  g_connect_ms.store(connect_ms);
  g_io_ms.store(io_ms);
}

HttpSession::~HttpSession() {
  Close();
}

void HttpSession::Close() {
  // The connection before the session.
  if (connection_ != 0) WinHttpCloseHandle(reinterpret_cast<HINTERNET>(connection_));
  if (session_ != 0) WinHttpCloseHandle(reinterpret_cast<HINTERNET>(session_));
  connection_ = session_ = 0;
  endpoint_ = nullptr;
  host_header_ = nullptr;
}

uint32_t HttpSession::Open() {
  Close();
  // The setting-up calls (session, connection, request, sending) count as
  // the fault seam's "connect" calls, in this order.
  if (int e = fault::Check(fault::Point::kHttpConnect)) return static_cast<uint32_t>(e);
  HINTERNET session = WinHttpOpen(L"Olvenna CRS", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == nullptr) return GetLastError();
  session_ = reinterpret_cast<intptr_t>(session);
  const int connect_ms = static_cast<int>(g_connect_ms.load());
  const int io_ms = static_cast<int>(g_io_ms.load());
  WinHttpSetTimeouts(session, connect_ms, connect_ms, io_ms, io_ms);
  return 0;
}

uint32_t HttpSession::Connect(const HttpEndpoint& endpoint, const char* host_header) {
  if (session_ == 0) return ERROR_INVALID_HANDLE;
  if (endpoint.address_size == 0) return ERROR_WINHTTP_NAME_NOT_RESOLVED;
  if (int e = fault::Check(fault::Point::kHttpConnect)) return static_cast<uint32_t>(e);
  wchar_t host[sizeof(endpoint.address)];
  if (!ToWide(reinterpret_cast<const char*>(endpoint.address), host,
              static_cast<int>(std::size(host)), CP_ACP)) {
    return ERROR_WINHTTP_INVALID_URL;
  }
  uint16_t port = 0;
  std::memcpy(&port, endpoint.address + kPortOffset, sizeof(port));
  HINTERNET connection = WinHttpConnect(reinterpret_cast<HINTERNET>(session_), host, port, 0);
  if (connection == nullptr) return GetLastError();
  connection_ = reinterpret_cast<intptr_t>(connection);
  endpoint_ = &endpoint;
  host_header_ = host_header;
  return 0;
}

HttpPut::~HttpPut() {
  Close();
}

void HttpPut::Close() {
  if (handle_ != -1 && handle_ != 0) WinHttpCloseHandle(reinterpret_cast<HINTERNET>(handle_));
  handle_ = -1;
}

uint32_t HttpPut::Open(HttpSession& session, const char* path) {
  Close();
  session_ = &session;
  if (session.connection_ == 0) return ERROR_INVALID_HANDLE;
  if (int e = fault::Check(fault::Point::kHttpConnect)) return static_cast<uint32_t>(e);
  // The path is UTF-8 (the dump's own name); WinHTTP escapes it itself.
  wchar_t wide_path[1024];
  if (!ToWide(path, wide_path, static_cast<int>(std::size(wide_path)), CP_UTF8)) {
    return ERROR_WINHTTP_INVALID_URL;
  }
  // Plain HTTP whatever the URL's scheme said: the service is reached as
  // the crash-report client always reached it.
  HINTERNET request = WinHttpOpenRequest(reinterpret_cast<HINTERNET>(session.connection_), L"PUT",
                                         wide_path, nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_REFRESH);
  if (request == nullptr) return GetLastError();
  handle_ = reinterpret_cast<intptr_t>(request);
  return 0;
}

uint32_t HttpPut::Send(const char* extra_header, uint64_t content_length) {
  if (handle_ == -1) return ERROR_INVALID_HANDLE;
  if (int e = fault::Check(fault::Point::kHttpConnect)) return static_cast<uint32_t>(e);
  // WinHTTP takes the total length as 32 bits; a larger body (a full dump of
  // a big process) announces its length in a header of its own.
  char headers[256] = {};
  DWORD total = static_cast<DWORD>(content_length);
  if (extra_header != nullptr && extra_header[0] != '\0') {
    if (std::strlen(extra_header) + 3 > sizeof(headers)) return ERROR_INVALID_PARAMETER;
    std::strcat(headers, extra_header);
  }
  if (content_length > 0xFFFFFFFEull) {
    char line[64];
    wsprintfA(line, "%sContent-Length: %I64u", headers[0] != '\0' ? "\r\n" : "",
              static_cast<unsigned long long>(content_length));
    if (std::strlen(headers) + std::strlen(line) + 1 > sizeof(headers))
      return ERROR_INVALID_PARAMETER;
    std::strcat(headers, line);
    total = WINHTTP_IGNORE_REQUEST_TOTAL_LENGTH;
  }
  wchar_t wide_headers[256];
  if (!ToWide(headers, wide_headers, static_cast<int>(std::size(wide_headers)), CP_ACP)) {
    return ERROR_INVALID_PARAMETER;
  }
  const DWORD header_length = static_cast<DWORD>(wcslen(wide_headers));
  if (!WinHttpSendRequest(reinterpret_cast<HINTERNET>(handle_),
                          header_length != 0 ? wide_headers : WINHTTP_NO_ADDITIONAL_HEADERS,
                          header_length, WINHTTP_NO_REQUEST_DATA, 0, total, 0)) {
    return GetLastError();
  }
  return 0;
}

uint32_t HttpPut::Write(const void* data, size_t size) {
  if (handle_ == -1) return ERROR_INVALID_HANDLE;
  if (int e = fault::Check(fault::Point::kHttpWrite)) return static_cast<uint32_t>(e);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x100000u ? 0x100000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WinHttpWriteData(reinterpret_cast<HINTERNET>(handle_), p, chunk, &written)) {
      return GetLastError();
    }
    if (written == 0) return ERROR_WINHTTP_CONNECTION_ERROR;
    p += written;
    size -= written;
  }
  return 0;
}

uint32_t HttpPut::ReceiveResponse() {
  if (handle_ == -1) return ERROR_INVALID_HANDLE;
  // Receiving and querying count as the fault seam's "read" calls.
  if (int e = fault::Check(fault::Point::kHttpRead)) return static_cast<uint32_t>(e);
  if (!WinHttpReceiveResponse(reinterpret_cast<HINTERNET>(handle_), nullptr)) {
    return GetLastError();
  }
  return 0;
}

uint32_t HttpPut::QueryStatus(uint32_t* status) {
  if (handle_ == -1) return ERROR_INVALID_HANDLE;
  if (int e = fault::Check(fault::Point::kHttpRead)) return static_cast<uint32_t>(e);
  DWORD code = 0;
  DWORD size = sizeof(code);
  if (!WinHttpQueryHeaders(reinterpret_cast<HINTERNET>(handle_),
                           WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX)) {
    return GetLastError();
  }
  *status = code;
  return 0;
}

std::string SystemSettingsFolder() {
  char folder[MAX_PATH] = {};
  UINT n = GetWindowsDirectoryA(folder, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(folder, n) : std::string("C:\\Windows");
}

}  // namespace platform
