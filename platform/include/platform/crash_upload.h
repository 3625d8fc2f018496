// A plain-HTTP PUT for crash uploads, usable inside a dying process.
//
// It stands in for the WinHTTP session, connection and request of the
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

// One PUT request. Each step answers 0 on success or a system error code;
// a failed step leaves the request unusable. The destructor closes it.
class HttpPut {
 public:
  HttpPut() = default;
  HttpPut(const HttpPut&) = delete;
  HttpPut& operator=(const HttpPut&) = delete;
  ~HttpPut();

  // Connects to endpoint and sends the request line and headers for path
  // (with Host: host_header, Content-Length: content_length and, when not
  // empty, the extra header line, e.g. "version:2112").
  uint32_t Send(const HttpEndpoint& endpoint, const char* host_header, const char* path,
                const char* extra_header, uint64_t content_length);

  // Sends body bytes.
  uint32_t Write(const void* data, size_t size);

  // Receives the response head and answers its status code in *status.
  // A response that is not HTTP answers an error code (EPROTO on POSIX).
  uint32_t ReceiveStatus(uint32_t* status);

  // Closes the connection; safe to call twice.
  void Close();

 private:
  intptr_t socket_ = -1;
};

}  // namespace platform
