// The crash upload's PUT over WinHTTP: session, connection and request
// handles, synchronous calls, the time-outs of SetHttpTimeouts on every
// session.
//
// WinHTTP resolves the name itself (through the system's proxy settings when
// there are any), so HttpResolve only keeps host and port. The handles of a
// request sit in a small static table (the seam's handle is its index): a
// dying process should not need the heap for its own bookkeeping.
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

struct Slot {
  std::atomic<bool> used{false};
  HINTERNET session = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
};
Slot g_slots[8];

Slot* SlotOf(intptr_t handle) {
  if (handle < 0 || handle >= static_cast<intptr_t>(std::size(g_slots))) return nullptr;
  return &g_slots[handle];
}

// Narrow (system code page) to wide, into a fixed buffer; false when it
// does not fit.
bool ToWide(const char* text, wchar_t* out, int capacity) {
  if (text[0] == '\0') {
    out[0] = L'\0';
    return true;
  }
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, out, capacity);
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

HttpPut::~HttpPut() {
  Close();
}

void HttpPut::Close() {
  Slot* slot = SlotOf(socket_);
  socket_ = -1;
  if (slot == nullptr) return;
  // The request before its connection, the connection before the session.
  if (slot->request != nullptr) WinHttpCloseHandle(slot->request);
  if (slot->connection != nullptr) WinHttpCloseHandle(slot->connection);
  if (slot->session != nullptr) WinHttpCloseHandle(slot->session);
  slot->request = slot->connection = slot->session = nullptr;
  slot->used.store(false);
}

uint32_t HttpPut::Send(const HttpEndpoint& endpoint, const char* /*host_header*/, const char* path,
                       const char* extra_header, uint64_t content_length) {
  Close();
  if (endpoint.address_size == 0) return ERROR_WINHTTP_NAME_NOT_RESOLVED;
  if (int e = fault::Check(fault::Point::kHttpConnect)) return static_cast<uint32_t>(e);

  wchar_t host[sizeof(endpoint.address)];
  wchar_t wide_path[1024];
  if (!ToWide(reinterpret_cast<const char*>(endpoint.address), host,
              static_cast<int>(std::size(host))) ||
      !ToWide(path, wide_path, static_cast<int>(std::size(wide_path)))) {
    return ERROR_WINHTTP_INVALID_URL;
  }
  uint16_t port = 0;
  std::memcpy(&port, endpoint.address + kPortOffset, sizeof(port));

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
  if (!ToWide(headers, wide_headers, static_cast<int>(std::size(wide_headers)))) {
    return ERROR_INVALID_PARAMETER;
  }

  Slot* slot = nullptr;
  for (size_t i = 0; i < std::size(g_slots); ++i) {
    bool expected = false;
    if (g_slots[i].used.compare_exchange_strong(expected, true)) {
      slot = &g_slots[i];
      socket_ = static_cast<intptr_t>(i);
      break;
    }
  }
  if (slot == nullptr) return ERROR_NOT_ENOUGH_MEMORY;

  slot->session = WinHttpOpen(L"Olvenna CRS", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (slot->session == nullptr) return GetLastError();
  const int connect_ms = static_cast<int>(g_connect_ms.load());
  const int io_ms = static_cast<int>(g_io_ms.load());
  WinHttpSetTimeouts(slot->session, connect_ms, connect_ms, io_ms, io_ms);
  slot->connection = WinHttpConnect(slot->session, host, port, 0);
  if (slot->connection == nullptr) return GetLastError();
  // Plain HTTP whatever the URL's scheme said: the service is reached as
  // the crash-report client always reached it.
  slot->request =
      WinHttpOpenRequest(slot->connection, L"PUT", wide_path, nullptr, WINHTTP_NO_REFERER,
                         WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_REFRESH);
  if (slot->request == nullptr) return GetLastError();
  const DWORD header_length = static_cast<DWORD>(wcslen(wide_headers));
  if (!WinHttpSendRequest(slot->request,
                          header_length != 0 ? wide_headers : WINHTTP_NO_ADDITIONAL_HEADERS,
                          header_length, WINHTTP_NO_REQUEST_DATA, 0, total, 0)) {
    return GetLastError();
  }
  return 0;
}

uint32_t HttpPut::Write(const void* data, size_t size) {
  Slot* slot = SlotOf(socket_);
  if (slot == nullptr || slot->request == nullptr) return ERROR_INVALID_HANDLE;
  if (int e = fault::Check(fault::Point::kHttpWrite)) return static_cast<uint32_t>(e);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x100000u ? 0x100000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WinHttpWriteData(slot->request, p, chunk, &written)) return GetLastError();
    if (written == 0) return ERROR_WINHTTP_CONNECTION_ERROR;
    p += written;
    size -= written;
  }
  return 0;
}

uint32_t HttpPut::ReceiveStatus(uint32_t* status) {
  Slot* slot = SlotOf(socket_);
  if (slot == nullptr || slot->request == nullptr) return ERROR_INVALID_HANDLE;
  if (int e = fault::Check(fault::Point::kHttpRead)) return static_cast<uint32_t>(e);
  if (!WinHttpReceiveResponse(slot->request, nullptr)) return GetLastError();
  DWORD code = 0;
  DWORD size = sizeof(code);
  if (!WinHttpQueryHeaders(slot->request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
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
