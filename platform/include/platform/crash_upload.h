// A plain-HTTP PUT for crash uploads, usable inside a dying process.
//
// It stands in for the WinHTTP session, connection and requests of the
// crash-report client. On POSIX it is a small client over a TCP socket:
// the service address is resolved beforehand (name lookup is not safe in a
// signal handler), the request is composed in fixed buffers, and every wait
// is bounded by the time-outs below, so a dead or stalled service cannot
// hold a dying process for long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A resolved service address (opaque; big enough for IPv6).
struct HttpEndpoint {
  alignas(8) unsigned char address[128];
  uint32_t address_size;  // 0 when not resolved
};

// Resolves host and port to an endpoint (the first address that answers to
// the name). Not for the crash path. Answers 0, or the resolver's error code
// (a positive number) with the endpoint left unresolved.
uint32_t HttpResolve(const char* host, uint16_t port, HttpEndpoint* out);

// The folder of the system-wide settings files, where the fallback CRS.ini
// lies: "/etc" on POSIX, the Windows folder on Windows. Not for the crash
// path.
std::string SystemSettingsFolder();

// Time-outs of every upload in the process, in milliseconds: connecting,
// and each send or receive. Defaults: 3000 and 5000.
void SetHttpTimeouts(uint32_t connect_ms, uint32_t io_ms);

// The session and the connection of one upload (WinHttpOpen and
// WinHttpConnect): every request of the upload goes through them. Each step
// answers 0 on success or a system error code. The destructor closes them,
// the connection before the session.
class HttpSession {
 public:
  HttpSession() = default;
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;
  ~HttpSession();

  // Opens the session (user agent "Olvenna CRS", the time-outs above).
  uint32_t Open();
  // Names the service: endpoint, and host_header for the Host: line. Both
  // must outlive the session. Nothing is sent yet: each request connects.
  uint32_t Connect(const HttpEndpoint& endpoint, const char* host_header);
  // Closes the connection, then the session; safe to call twice.
  void Close();

 private:
  friend class HttpPut;
  intptr_t session_ = 0;     // Win32: the session handle
  intptr_t connection_ = 0;  // Win32: the connection handle
  const HttpEndpoint* endpoint_ = nullptr;
  const char* host_header_ = nullptr;
};

// One PUT request on a session, step by step as WinHTTP takes it. Each step
// answers 0 on success or a system error code; a failed step leaves the
// request unusable. The destructor closes it.
class HttpPut {
 public:
  HttpPut() = default;
  HttpPut(const HttpPut&) = delete;
  HttpPut& operator=(const HttpPut&) = delete;
  ~HttpPut();

  // Opens a PUT request for path on the session's connection
  // (WinHttpOpenRequest). path is UTF-8; it goes out percent-encoded as
  // WinHTTP sends it: the bytes of the controls, space, 0x7F and above, and
  // of " # < > [ \ ] ^ ` { | } become %XX; '%' itself stays. The session
  // must outlive the request.
  uint32_t Open(HttpSession& session, const char* path);

  // Sends the request head (WinHttpSendRequest) with Content-Length:
  // content_length and, when not empty, the extra header line, e.g.
  // "version:2112". On POSIX this is where the connection is made.
  uint32_t Send(const char* extra_header, uint64_t content_length);

  // Sends body bytes.
  uint32_t Write(const void* data, size_t size);

  // Receives the response head (WinHttpReceiveResponse). A response that
  // is not HTTP answers an error code (EPROTO on POSIX).
  uint32_t ReceiveResponse();

  // The status code of the received response (WinHttpQueryHeaders). A
  // status line without a three-digit code answers an error code (EPROTO on
  // POSIX) and leaves *status alone.
  uint32_t QueryStatus(uint32_t* status);

  // Closes the request; safe to call twice.
  void Close();

 private:
  HttpSession* session_ = nullptr;
  intptr_t handle_ = -1;  // POSIX: the socket; Win32: the request handle
  // POSIX: the escaped path until Send, then the response's status line.
  char text_[1024] = {};
  size_t text_size_ = 0;
};

}  // namespace platform
