// Plain-HTTP PUT over a TCP socket for crash uploads: fixed buffers, a
// bounded connect (non-blocking connect and poll) and bounded sends and
// receives (SO_SNDTIMEO, SO_RCVTIMEO); MSG_NOSIGNAL keeps a peer that hangs
// up from killing the process with SIGPIPE.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "crash_posix_internal.h"
#include "platform/crash_upload.h"
#include "platform/fault_injection.h"

namespace platform {
namespace {

std::atomic<uint32_t> g_connect_ms{3000};
std::atomic<uint32_t> g_io_ms{5000};

// Appends text to a fixed buffer; answers false when it does not fit.
struct Line {
  char* data;
  size_t capacity;
  size_t size;

  bool Add(const char* text) {
    size_t n = std::strlen(text);
    if (size + n >= capacity) return false;
    std::memcpy(data + size, text, n);
    size += n;
    data[size] = '\0';
    return true;
  }
  bool AddNumber(uint64_t value) {
    char text[24];
    text[crash_posix::AppendDecimal(value, text, 0)] = '\0';
    return Add(text);
  }
};

timeval ToTimeval(uint32_t ms) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
  return tv;
}

uint32_t TimedOut(int error) {
  return static_cast<uint32_t>(error == EAGAIN || error == EWOULDBLOCK ? ETIMEDOUT : error);
}

}  // namespace

uint32_t HttpResolve(const char* host, uint16_t port, HttpEndpoint* out) {
  out->address_size = 0;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  char service[8];
  Line line{service, sizeof(service), 0};
  line.AddNumber(port);
  addrinfo* result = nullptr;
  int rc = getaddrinfo(host, service, &hints, &result);
  if (rc != 0) return static_cast<uint32_t>(rc < 0 ? -rc : rc);
  uint32_t answer = static_cast<uint32_t>(EAI_NONAME < 0 ? -EAI_NONAME : EAI_NONAME);
  if (result != nullptr && result->ai_addrlen <= sizeof(out->address)) {
    std::memcpy(out->address, result->ai_addr, result->ai_addrlen);
    out->address_size = static_cast<uint32_t>(result->ai_addrlen);
    answer = 0;
  }
  freeaddrinfo(result);
  return answer;
}

void SetHttpTimeouts(uint32_t connect_ms, uint32_t io_ms) {
  g_connect_ms.store(connect_ms);
  g_io_ms.store(io_ms);
}

HttpSession::~HttpSession() {
  Close();
}

// Nothing to open: the address was resolved beforehand, and each request
// makes its own connection ("Connection: close").
uint32_t HttpSession::Open() {
  return 0;
}

uint32_t HttpSession::Connect(const HttpEndpoint& endpoint, const char* host_header) {
  if (endpoint.address_size == 0) return EDESTADDRREQ;
  endpoint_ = &endpoint;
  host_header_ = host_header;
  return 0;
}

void HttpSession::Close() {
  session_ = connection_ = 0;  // no system handles on POSIX
  endpoint_ = nullptr;
  host_header_ = nullptr;
}

HttpPut::~HttpPut() {
  Close();
}

void HttpPut::Close() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = -1;
}

uint32_t HttpPut::Open(HttpSession& session, const char* path) {
  Close();
  session_ = nullptr;
  if (session.endpoint_ == nullptr) return EBADF;
  // What WinHTTP escapes in a request path, byte by byte of its UTF-8 form:
  // controls, space, DEL and above, and the characters a URL never carries
  // as they are. A dump name starts with "[2112]", which a strict service
  // refuses unescaped.
  static const char kHex[] = "0123456789ABCDEF";
  size_t used = 0;
  for (const char* p = path; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    const bool escape = c <= 0x20 || c >= 0x7F || std::strchr("\"#<>[\\]^`{|}", c) != nullptr;
    if (used + (escape ? 3 : 1) >= sizeof(text_)) return ENAMETOOLONG;
    if (escape) {
      text_[used++] = '%';
      text_[used++] = kHex[c >> 4];
      text_[used++] = kHex[c & 0xF];
    } else {
      text_[used++] = static_cast<char>(c);
    }
  }
  text_[used] = '\0';
  session_ = &session;
  return 0;
}

uint32_t HttpPut::Send(const char* extra_header, uint64_t content_length) {
  Close();
  if (session_ == nullptr || session_->endpoint_ == nullptr) return EBADF;
  const HttpEndpoint& endpoint = *session_->endpoint_;
  char head[2048];
  Line line{head, sizeof(head), 0};
  bool fits = line.Add("PUT ") && line.Add(text_) && line.Add(" HTTP/1.1\r\nHost: ") &&
              line.Add(session_->host_header_) && line.Add("\r\nUser-Agent: Olvenna CRS\r\n") &&
              line.Add("Content-Length: ") && line.AddNumber(content_length) &&
              line.Add("\r\nConnection: close\r\n");
  if (fits && extra_header != nullptr && extra_header[0] != '\0') {
    fits = line.Add(extra_header) && line.Add("\r\n");
  }
  fits = fits && line.Add("\r\n");
  if (!fits) return ENAMETOOLONG;

  if (const int e = fault::Check(fault::Point::kHttpConnect)) return static_cast<uint32_t>(e);
  const auto* address = reinterpret_cast<const sockaddr*>(endpoint.address);
  int fd = socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return static_cast<uint32_t>(errno);
  handle_ = fd;
  if (connect(fd, address, endpoint.address_size) != 0) {
    if (errno != EINPROGRESS) return static_cast<uint32_t>(errno);
    pollfd p{fd, POLLOUT, 0};
    int rc;
    do {
      rc = poll(&p, 1, static_cast<int>(g_connect_ms.load()));
    } while (rc < 0 && errno == EINTR);
    if (rc == 0) return ETIMEDOUT;
    if (rc < 0) return static_cast<uint32_t>(errno);
    int error = 0;
    socklen_t size = sizeof(error);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
      return static_cast<uint32_t>(errno);
    if (error != 0) return static_cast<uint32_t>(error);
  }
  int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  timeval tv = ToTimeval(g_io_ms.load());
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  return Write(head, line.size);
}

uint32_t HttpPut::Write(const void* data, size_t size) {
  if (handle_ < 0) return EBADF;
  if (const int e = fault::Check(fault::Point::kHttpWrite)) return static_cast<uint32_t>(e);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = send(static_cast<int>(handle_), p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return TimedOut(errno);
    p += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

uint32_t HttpPut::ReceiveResponse() {
  text_size_ = 0;
  if (handle_ < 0) return EBADF;
  if (const int e = fault::Check(fault::Point::kHttpRead)) return static_cast<uint32_t>(e);
  // Only the status line matters; the rest of the answer is not read.
  char head[512];
  size_t used = 0;
  for (;;) {
    if (used == sizeof(head)) return EPROTO;
    ssize_t n = recv(static_cast<int>(handle_), head + used, sizeof(head) - used, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return TimedOut(errno);
    if (n == 0) return used == 0 ? ECONNRESET : EPROTO;
    used += static_cast<size_t>(n);
    if (std::memchr(head, '\n', used) != nullptr) break;
  }
  // Judged on the status line alone: what else the reads happened to bring
  // must not change the answer, and a status code on a later line is not
  // the service's status.
  const char* end = static_cast<const char*>(std::memchr(head, '\n', used));
  const size_t line = static_cast<size_t>(end - head);
  if (line < 5 || std::memcmp(head, "HTTP/", 5) != 0) return EPROTO;
  std::memcpy(text_, head, line);  // bytes, NULs included
  text_size_ = line;
  return 0;
}

uint32_t HttpPut::QueryStatus(uint32_t* status) {
  // "HTTP/1.x NNN reason"
  const size_t line = text_size_;
  if (line < 12) return EPROTO;
  const char* p = static_cast<const char*>(std::memchr(text_, ' ', line));
  if (p == nullptr || p + 4 > text_ + line) return EPROTO;
  uint32_t code = 0;
  for (int i = 1; i <= 3; ++i) {
    char c = p[i];
    if (c < '0' || c > '9') return EPROTO;
    code = code * 10 + static_cast<uint32_t>(c - '0');
  }
  *status = code;
  return 0;
}

std::string SystemSettingsFolder() {
  return "/etc";
}

}  // namespace platform
