// The sending side: PostMessage, SendCopyData, IsWindow and the owner's pid.
//
// Each thread keeps one connection per target window, so that the frames
// of one thread reach a window in the order they were written.
#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <unordered_map>

#include "fault_posix.h"
#include "window_internal.h"
#include "window_socket.h"

namespace platform {
namespace {

struct ClientConnection {
  explicit ClientConnection(int descriptor) : fd(descriptor) {}
  ~ClientConnection() { close(fd); }
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;
  int fd;
  // Replies that arrived for an outer wait while a nested one read.
  std::map<uint64_t, LResult> early_replies;
};
using ClientPtr = std::shared_ptr<ClientConnection>;

// Bounded so that a thread talking to many short-lived windows does not
// collect descriptors; dead connections are dropped first.
constexpr size_t kCacheLimit = 256;
// How long a send keeps retrying a connect that meets a full backlog.
constexpr auto kConnectPatience = std::chrono::seconds(5);

class ConnectionCache {
 public:
  // The cached connection to `target`, or null. Posts and sends skip the
  // liveness check (a syscall): writing to a dead connection fails with
  // EPIPE and they connect again once.
  ClientPtr Cached(WindowHandle target, bool check_alive) {
    auto it = connections_.find(target);
    if (it == connections_.end()) return nullptr;
    if (check_alive && wire::PeerClosed(it->second->fd)) {
      connections_.erase(it);
      return nullptr;
    }
    return it->second;
  }

  // Connects afresh; *error holds the errno on failure.
  ClientPtr Connect(WindowHandle target, int* error) {
    const int fd = wire::ConnectToHandle(target, error);
    if (fd < 0) return nullptr;
    if (connections_.size() >= kCacheLimit) Prune();
    auto connection = std::make_shared<ClientConnection>(fd);
    connections_[target] = connection;
    return connection;
  }

  void Forget(WindowHandle target, const ClientPtr& connection) {
    auto it = connections_.find(target);
    if (it != connections_.end() && it->second == connection) connections_.erase(it);
  }

 private:
  void Prune() {
    for (auto it = connections_.begin(); it != connections_.end();) {
      it = wire::PeerClosed(it->second->fd) ? connections_.erase(it) : std::next(it);
    }
    if (connections_.size() >= kCacheLimit) connections_.erase(connections_.begin());
  }

  std::unordered_map<WindowHandle, ClientPtr> connections_;
};

ConnectionCache& Cache() {
  thread_local ConnectionCache cache;
  return cache;
}

std::atomic<uint64_t> g_next_sequence{1};

// Polls `fd` for `events` while the calling thread's windows answer sends.
// Answers the revents of fd (0 if only the windows had work).
short WaitServing(int fd, short events) {
  if (posix::WindowImpl::ThreadWindows().empty()) {
    pollfd p{fd, events, 0};
    return poll(&p, 1, -1) < 0 ? 0 : p.revents;
  }
  auto windows = posix::WindowImpl::ThreadWindows();  // a handler may add or remove one
  std::vector<pollfd> fds{{fd, events, 0}};
  std::vector<posix::WindowImpl::PollSlots> slots(windows.size());
  for (size_t i = 0; i < windows.size(); ++i) {
    windows[i]->AddPollFds(posix::WindowImpl::Mode::kSendsOnly, &fds, &slots[i]);
  }
  if (poll(fds.data(), fds.size(), -1) < 0) return 0;
  for (size_t i = 0; i < windows.size(); ++i) {
    windows[i]->HandlePoll(posix::WindowImpl::Mode::kSendsOnly, fds, slots[i]);
  }
  return fds[0].revents;
}

constexpr size_t kMaxEarlyReplies = 64;

bool IsPeerGone(int error) {
  return error == EPIPE || error == ECONNRESET || error == ENOTCONN || error == ECONNREFUSED;
}

// Writes the send frame, waiting (and serving) while the buffer is full.
// Answers 0 or the errno.
int WriteWhileServing(const ClientPtr& connection, const wire::Header& header,
                      std::span<const std::byte> data) {
  for (;;) {
    const int error = wire::SendFrame(connection->fd, header, data);
    if (error != EAGAIN) return error;
    const short revents = WaitServing(connection->fd, POLLOUT);
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) return EPIPE;
  }
}

// Waits for the reply to `sequence` on `connection`.
bool AwaitReply(const ClientPtr& connection, WindowHandle target, uint64_t sequence,
                LResult* result) {
  // Replies carry no payload; anything longer is refused as oversized.
  std::byte datagram[wire::kHeaderSize * 2];
  for (;;) {
    auto early = connection->early_replies.find(sequence);
    if (early != connection->early_replies.end()) {
      *result = early->second;
      connection->early_replies.erase(early);
      return true;
    }
    // A thread without windows has nothing to serve meanwhile: it waits in
    // recv itself. An owner polls its windows too.
    const bool serving = !posix::WindowImpl::ThreadWindows().empty();
    if (serving && !(WaitServing(connection->fd, POLLIN) & (POLLIN | POLLHUP | POLLERR))) {
      continue;
    }
    size_t length = 0;
    switch (wire::ReceiveDatagram(connection->fd, datagram, &length, !serving)) {
      case wire::ReceiveStatus::kEmpty:
        continue;
      case wire::ReceiveStatus::kClosed:
        return false;
      case wire::ReceiveStatus::kOversized:
        fprintf(stderr, "window %llu: oversized reply; closing the connection\n",
                static_cast<unsigned long long>(target));
        return false;
      case wire::ReceiveStatus::kFrame:
        break;
    }
    wire::Header header;
    const wire::DecodeResult decoded =
        wire::DecodeFrame(std::span<const std::byte>(datagram, length), &header);
    if (decoded != wire::DecodeResult::kOk || header.kind != wire::Kind::kReply) {
      fprintf(
          stderr, "window %llu: bad reply (%s); closing the connection\n",
          static_cast<unsigned long long>(target),
          decoded != wire::DecodeResult::kOk ? wire::DescribeDecodeResult(decoded) : "not a reply");
      return false;
    }
    if (header.sequence == sequence) {
      *result = header.l_param;
      return true;
    }
    // Only a send nested inside this wait (a handler served meanwhile sending
    // to the same window) can leave a reply for later; a peer that answers
    // sequences nobody waits for is broken or hostile, not nested that deep.
    if (connection->early_replies.size() >= kMaxEarlyReplies) {
      fprintf(stderr, "window %llu: too many unexpected replies; closing the connection\n",
              static_cast<unsigned long long>(target));
      return false;
    }
    connection->early_replies[header.sequence] = header.l_param;
  }
}

}  // namespace

bool PostMessage(WindowHandle target, uint32_t msg, WParam w_param, LParam l_param) {
  if (posix::Faulted(fault::Point::kWindowPost)) return false;
  if (msg == kWmCopyData || !wire::IsValidHandle(target)) return false;
  wire::Header header;
  header.kind = wire::Kind::kPost;
  header.target = target;
  header.msg = msg;
  header.w_param = w_param;
  header.l_param = l_param;
  ClientPtr connection = Cache().Cached(target, false);
  const bool was_cached = connection != nullptr;
  int error = 0;
  if (!connection) connection = Cache().Connect(target, &error);
  if (!connection) return false;
  error = wire::SendFrame(connection->fd, header, {});
  if (error == 0) return true;
  if (!IsPeerGone(error)) return false;  // EAGAIN: the queue is full
  Cache().Forget(target, connection);
  // The cached connection died since it was checked; a window that has
  // taken the handle since gets the post, as IsWindow would find it.
  if (!was_cached) return false;
  connection = Cache().Connect(target, &error);
  return connection && wire::SendFrame(connection->fd, header, {}) == 0;
}

bool SendCopyDataChecked(WindowHandle target, WindowHandle from, uint64_t dw_data,
                         std::span<const std::byte> data, LResult* result) {
  if (!wire::IsValidHandle(target) || data.size() > wire::kMaxPayload) return false;
  wire::Header header;
  header.kind = wire::Kind::kSend;
  header.sequence = g_next_sequence.fetch_add(1, std::memory_order_relaxed);
  header.target = target;
  header.msg = kWmCopyData;
  header.w_param = from;
  header.dw_data = dw_data;
  header.cb_data = static_cast<uint32_t>(data.size());

  ClientPtr connection = Cache().Cached(target, false);
  bool was_cached = connection != nullptr;
  const auto deadline = std::chrono::steady_clock::now() + kConnectPatience;
  int error = 0;
  for (;;) {
    if (!connection) connection = Cache().Connect(target, &error);
    if (!connection) {
      // A full backlog means the window exists but is slow to accept.
      if (error != EAGAIN || std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    error = WriteWhileServing(connection, header, data);
    if (error == 0) break;
    Cache().Forget(target, connection);
    connection = nullptr;
    if (error == EMSGSIZE || error == ENOBUFS) {
      fprintf(stderr,
              "window %llu: a %zu-byte copy-data does not fit one datagram "
              "(raise net.core.wmem_max)\n",
              static_cast<unsigned long long>(target), data.size());
      return false;
    }
    if (!IsPeerGone(error) || !was_cached) return false;
    was_cached = false;
  }
  LResult answer = 0;
  if (!AwaitReply(connection, target, header.sequence, &answer)) {
    Cache().Forget(target, connection);
    return false;
  }
  *result = answer;
  return true;
}

LResult SendCopyData(WindowHandle target, WindowHandle from, uint64_t dw_data,
                     std::span<const std::byte> data) {
  LResult result = 0;
  return SendCopyDataChecked(target, from, dw_data, data, &result) ? result : 0;
}

bool IsWindow(WindowHandle handle) {
  if (!wire::IsValidHandle(handle)) return false;
  if (Cache().Cached(handle, true)) return true;
  int error = 0;
  if (Cache().Connect(handle, &error)) return true;
  return error == EAGAIN;  // listening, with a full backlog
}

uint32_t GetWindowProcessId(WindowHandle handle) {
  if (!wire::IsValidHandle(handle)) return 0;
  ClientPtr connection = Cache().Cached(handle, true);
  int error = 0;
  if (!connection) connection = Cache().Connect(handle, &error);
  return connection ? wire::PeerPid(connection->fd) : 0;
}

}  // namespace platform
