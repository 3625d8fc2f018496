// The crash upload's reading of the service's answer: a real request to a
// listener in this process, which answers with the input (docs/fuzzing.md).
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "platform/crash_upload.h"

using fuzz::Fail;
using fuzz::Require;

namespace {

constexpr size_t kHeadCapacity = 512;  // what ReceiveResponse keeps of the answer

struct Service {
  int listener = -1;
  platform::HttpEndpoint endpoint{};
};

// A listening socket in the abstract namespace, named for this process.
const Service& GetService() {
  static const Service service = [] {
    Service s;
    s.listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s.listener < 0) Fail("socket");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = "serverapp-fuzz-crs-" + std::to_string(getpid());
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (bind(s.listener, reinterpret_cast<sockaddr*>(&address), length) != 0) Fail("bind");
    if (listen(s.listener, 16) != 0) Fail("listen");
    static_assert(sizeof(address) <= sizeof(s.endpoint.address));
    std::memcpy(s.endpoint.address, &address, sizeof(address));
    s.endpoint.address_size = length;
    platform::SetHttpTimeouts(1000, 1000);
    return s;
  }();
  return service;
}

// What the reader must answer for `answer`: 0 with the status, or an error.
uint32_t Expected(const uint8_t* data, size_t size, uint32_t* status) {
  if (size == 0) return ECONNRESET;
  const size_t window = size < kHeadCapacity ? size : kHeadCapacity;
  const auto* nl = static_cast<const uint8_t*>(std::memchr(data, '\n', window));
  if (nl == nullptr) return EPROTO;
  const size_t line = static_cast<size_t>(nl - data);
  if (line < 12 || std::memcmp(data, "HTTP/", 5) != 0) return EPROTO;
  const auto* space = static_cast<const uint8_t*>(std::memchr(data, ' ', line));
  if (space == nullptr || space + 4 > nl) return EPROTO;
  uint32_t code = 0;
  for (int i = 1; i <= 3; ++i) {
    if (space[i] < '0' || space[i] > '9') return EPROTO;
    code = code * 10 + static_cast<uint32_t>(space[i] - '0');
  }
  *status = code;
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;  // stays within the socket buffer: no writer blocks
  const Service& service = GetService();

  platform::HttpSession session;
  if (session.Open() != 0 || session.Connect(service.endpoint, "crs.test") != 0) Fail("session");
  platform::HttpPut put;
  if (put.Open(session, "/dumps/x_crs.log") != 0) Fail("request not opened");
  const uint32_t sent = put.Send("version:2112", 0);
  if (sent != 0) Fail("request not sent");
  const int peer = accept4(service.listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (peer < 0) Fail("accept");
  // Read the request so that hanging up sends an end, not a reset.
  char request[4096];
  while (recv(peer, request, sizeof(request), MSG_DONTWAIT) > 0) {
  }
  // A blocking stream send writes it whole (it fits the socket's buffer).
  Require(send(peer, data, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size), "answer not written");
  close(peer);

  uint32_t status = 1000;
  uint32_t error = put.ReceiveResponse();
  if (error == 0) error = put.QueryStatus(&status);
  uint32_t expected_status = 1000;
  const uint32_t expected = Expected(data, size, &expected_status);
  Require(error == expected, "answer accepted or refused wrongly");
  if (error == 0) Require(status == expected_status && status <= 999, "status code");
  put.Close();
  return 0;
}
