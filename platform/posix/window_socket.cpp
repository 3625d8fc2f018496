#include "window_socket.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform::wire {
namespace {

// Room for the largest record (211408 bytes) plus header; the kernel doubles
// the value and caps it at net.core.wmem_max.
constexpr int kSendBuffer = 1 << 20;

socklen_t MakeAddress(uint64_t handle, sockaddr_un* address) {
  memset(address, 0, sizeof(*address));
  address->sun_family = AF_UNIX;
  // Abstract namespace: a leading NUL, then the name without a trailing NUL.
  const int n = snprintf(address->sun_path + 1, sizeof(address->sun_path) - 1, "hwnd:%llu",
                         static_cast<unsigned long long>(handle));
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

int NewSocket(int* error) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) *error = errno;
  return fd;
}

}  // namespace

int ListenOnHandle(uint64_t handle, int* error) {
  const int fd = NewSocket(error);
  if (fd < 0) return -1;
  sockaddr_un address;
  const socklen_t length = MakeAddress(handle, &address);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, SOMAXCONN) != 0) {
    *error = errno;
    close(fd);
    return -1;
  }
  return fd;
}

int ConnectToHandle(uint64_t handle, int* error) {
  const int fd = NewSocket(error);
  if (fd < 0) return -1;
  // Best effort: where wmem_max is lower, the largest sends fail with
  // EMSGSIZE and say so on stderr.
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof(kSendBuffer));
  sockaddr_un address;
  const socklen_t length = MakeAddress(handle, &address);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    *error = errno;
    close(fd);
    return -1;
  }
  // Connected without blocking (a full backlog must not stall a post); from
  // here on every write says MSG_DONTWAIT itself, and a thread without
  // windows may wait for a reply in recv alone.
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

int SendFrame(int fd, const Header& header, std::span<const std::byte> payload) {
  std::byte head[kHeaderSize];
  EncodeHeader(header, std::span<std::byte, kHeaderSize>(head, kHeaderSize));
  iovec parts[2] = {{head, kHeaderSize}, {const_cast<std::byte*>(payload.data()), payload.size()}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = payload.empty() ? 1 : 2;
  for (;;) {
    const ssize_t sent = sendmsg(fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) return 0;
    if (errno == EINTR) continue;
    return errno == EWOULDBLOCK ? EAGAIN : errno;
  }
}

ReceiveStatus ReceiveDatagram(int fd, std::span<std::byte> buffer, size_t* length, bool wait) {
  for (;;) {
    // MSG_TRUNC makes recv answer the datagram's full length, so that a
    // datagram larger than the buffer is seen, not silently cut.
    const ssize_t got =
        recv(fd, buffer.data(), buffer.size(), MSG_TRUNC | (wait ? 0 : MSG_DONTWAIT));
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return ReceiveStatus::kEmpty;
      return ReceiveStatus::kClosed;
    }
    // 0 is either the end of the connection or an empty datagram, which is
    // then reported as a (too short) frame.
    if (got == 0 && PeerClosed(fd)) return ReceiveStatus::kClosed;
    *length = static_cast<size_t>(got);
    return *length > buffer.size() ? ReceiveStatus::kOversized : ReceiveStatus::kFrame;
  }
}

uint32_t PeerPid(int fd) {
  ucred credentials{};
  socklen_t length = sizeof(credentials);
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return 0;
  return credentials.pid > 0 ? static_cast<uint32_t>(credentials.pid) : 0;
}

bool GetPeerCredentials(int fd, PeerCredentials* peer) {
  ucred credentials{};
  socklen_t length = sizeof(credentials);
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return false;
  peer->pid = credentials.pid > 0 ? static_cast<uint32_t>(credentials.pid) : 0;
  peer->uid = static_cast<uint32_t>(credentials.uid);
  return true;
}

bool PeerClosed(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 0) < 0) return false;
  return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace platform::wire
