// The window's own side: creation, the modal loop, timers, closures, and
// how a frame that arrives is checked and dispatched.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "window_internal.h"
#include "window_socket.h"

namespace platform {

void WindowHandler::OnPost(uint32_t, WParam, LParam) {}
LResult WindowHandler::OnSend(uint32_t, WParam, LParam, const CopyData&) {
  return 0;
}
void WindowHandler::OnTimer(uint64_t) {}

namespace {

// A window's owner may stop reading posts while it waits for a reply; past
// this many held posts, it leaves the rest in the sockets (the senders see
// a full queue), as Win32 caps a queue at 10000 messages.
constexpr size_t kStashLimit = 10000;
constexpr int kCreateAttempts = 64;
constexpr int kFramesPerRound = 32;

// A window takes frames only from processes of its owner's user and root,
// as Win32 keeps window messages inside one user's session; any other
// process in the network namespace could otherwise stop every room or feed
// it records. A manager that runs as a user of its own is named here (a
// decimal uid) in every host's environment.
constexpr const char* kManagerUidVariable = "SERVERAPP_MANAGER_UID";

int64_t ManagerUidSetting() {
  const char* text = getenv(kManagerUidVariable);
  if (text == nullptr || *text == '\0') return -1;
  char* end = nullptr;
  errno = 0;
  const unsigned long long uid = strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || *text == '-' || uid >= 0xFFFFFFFFull) {
    fprintf(stderr, "window: %s=%s is not a user id; only the owner's user and root are let in\n",
            kManagerUidVariable, text);
    return -1;
  }
  return static_cast<int64_t>(uid);
}

uint64_t RandomHandle() {
  thread_local std::mt19937_64 generator{std::random_device{}()};
  return std::uniform_int_distribution<uint64_t>(1, wire::kMaxHandle)(generator);
}

}  // namespace

std::unique_ptr<Window> Window::Create(WindowHandler& handler, WindowHandle wanted,
                                       std::string* error) {
  auto fail = [error](std::string reason) -> std::unique_ptr<Window> {
    if (error) *error = std::move(reason);
    return nullptr;
  };
  if (wanted != 0 && !wire::IsValidHandle(wanted)) {
    return fail("window handle " + std::to_string(wanted) + " is outside 1..2147483647");
  }
  int listen_fd = -1;
  WindowHandle handle = 0;
  int last_error = 0;
  for (int attempt = 0; attempt < (wanted ? 1 : kCreateAttempts) && listen_fd < 0; ++attempt) {
    handle = wanted ? wanted : RandomHandle();
    listen_fd = wire::ListenOnHandle(handle, &last_error);
    if (listen_fd < 0 && last_error != EADDRINUSE) break;
  }
  if (listen_fd < 0) {
    return fail(last_error == EADDRINUSE
                    ? "window handle " + std::to_string(handle) + " is taken"
                    : std::string("cannot create a window socket: ") + strerror(last_error));
  }
  const int wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd < 0) {
    const int e = errno;
    close(listen_fd);
    return fail(std::string("cannot create the window's wake event: ") + strerror(e));
  }
  return std::make_unique<posix::WindowImpl>(handler, handle, listen_fd, wake_fd,
                                             ManagerUidSetting());
}

namespace posix {

ServerConnection::~ServerConnection() {
  close(fd);
}

std::vector<WindowImpl*>& WindowImpl::ThreadWindows() {
  thread_local std::vector<WindowImpl*> windows;
  return windows;
}

WindowImpl::WindowImpl(WindowHandler& handler, WindowHandle handle, int listen_fd, int wake_fd,
                       int64_t manager_uid)
    : handler_(handler),
      handle_(handle),
      listen_fd_(listen_fd),
      wake_fd_(wake_fd),
      manager_uid_(manager_uid) {
  ThreadWindows().push_back(this);
}

WindowImpl::~WindowImpl() {
  auto& windows = ThreadWindows();
  windows.erase(std::remove(windows.begin(), windows.end(), this), windows.end());
  Close();
  std::lock_guard lock(mutex_);  // lets an End or Invoke in progress finish
  close(wake_fd_);
}

void WindowImpl::Close() {
  if (listen_fd_ < 0) return;
  // Closing the listener removes the window from the machine; closing the
  // connections ends every wait on it.
  close(listen_fd_);
  listen_fd_ = -1;
  for (auto& connection : connections_) connection->closed = true;
  connections_.clear();
  stash_.clear();
  timers_.clear();
}

LResult WindowImpl::Run() {
  std::vector<pollfd> fds;
  PollSlots slots;
  while (!EndRequested()) {
    if (RunOneInvoked()) continue;
    if (!stash_.empty()) {
      const Posted posted = stash_.front();
      stash_.pop_front();
      handler_.OnPost(posted.msg, posted.w_param, posted.l_param);
      continue;
    }
    FireDueTimers();
    if (EndRequested()) break;
    fds.clear();
    AddPollFds(Mode::kLoop, &fds, &slots);
    const int ready = poll(fds.data(), fds.size(), PollTimeout());
    if (ready < 0 && errno != EINTR) {
      // Only End ends the loop; a failing poll (out of memory) is retried
      // after a pause rather than ending a modal loop its owner relies on.
      fprintf(stderr, "window %llu: poll failed: %s\n", static_cast<unsigned long long>(handle_),
              strerror(errno));
      poll(nullptr, 0, 10);
      continue;
    }
    if (ready > 0) HandlePoll(Mode::kLoop, fds, slots);
  }
  std::lock_guard lock(mutex_);
  const LResult result = end_result_;
  end_result_ = 0;
  end_requested_.store(false, std::memory_order_release);
  return result;
}

void WindowImpl::End(LResult result) {
  // The wake-up is written under the lock: the owner takes the lock before
  // Run returns, so once it can destroy the window, End no longer uses it.
  std::lock_guard lock(mutex_);
  if (end_requested_.load(std::memory_order_relaxed)) return;
  end_result_ = result;
  end_requested_.store(true, std::memory_order_release);
  Wake();
}

void WindowImpl::Wake() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wake_fd_, &one, sizeof(one));
}

bool WindowImpl::SetTimer(uint64_t timer_id, uint32_t period_ms) {
  if (period_ms == 0) return false;
  const auto period = std::chrono::milliseconds(period_ms);
  timers_[timer_id] = Timer{period, std::chrono::steady_clock::now() + period};
  return true;
}

bool WindowImpl::KillTimer(uint64_t timer_id) {
  return timers_.erase(timer_id) == 1;
}

void WindowImpl::Invoke(std::function<void()> fn) {
  std::lock_guard lock(mutex_);
  invoked_.push_back(std::move(fn));
  Wake();
}

void WindowImpl::PostLocal(uint32_t msg, WParam w_param, LParam l_param) {
  Invoke([this, msg, w_param, l_param] { handler_.OnPost(msg, w_param, l_param); });
}

bool WindowImpl::RunOneInvoked() {
  std::function<void()> fn;
  {
    std::lock_guard lock(mutex_);
    if (invoked_.empty()) return false;
    fn = std::move(invoked_.front());
    invoked_.pop_front();
  }
  if (fn) fn();
  return true;
}

void WindowImpl::FireDueTimers() {
  const auto now = std::chrono::steady_clock::now();
  std::vector<uint64_t> due;
  for (auto& [id, timer] : timers_) {
    if (timer.due <= now) {
      due.push_back(id);
      // Like WM_TIMER, a late timer fires once, not once per missed period.
      timer.due = now + timer.period;
    }
  }
  for (uint64_t id : due) {
    if (EndRequested()) return;
    // A handler may have killed this timer (or all of them) meanwhile.
    if (timers_.count(id)) handler_.OnTimer(id);
  }
}

int WindowImpl::PollTimeout() const {
  if (timers_.empty()) return -1;
  auto next = timers_.begin()->second.due;
  for (const auto& [id, timer] : timers_) next = std::min(next, timer.due);
  const auto wait = next - std::chrono::steady_clock::now();
  if (wait <= std::chrono::steady_clock::duration::zero()) return 0;
  // Round up so that the loop does not wake just before the timer is due.
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
}

void WindowImpl::AddPollFds(Mode mode, std::vector<pollfd>* fds, PollSlots* slots) {
  slots->first = fds->size();
  fds->push_back({listen_fd_, POLLIN, 0});
  slots->has_wake = mode == Mode::kLoop;
  if (slots->has_wake) fds->push_back({wake_fd_, POLLIN, 0});
  // A waiting owner holding the most posts it will hold leaves the
  // connections alone until its loop runs again.
  slots->has_connections = mode == Mode::kLoop || stash_.size() < kStashLimit;
  slots->connections.clear();
  if (!slots->has_connections) return;
  for (const auto& connection : connections_) {
    fds->push_back({connection->fd, POLLIN, 0});
    slots->connections.push_back(connection);
  }
}

void WindowImpl::HandlePoll(Mode mode, const std::vector<pollfd>& fds, const PollSlots& slots) {
  size_t index = slots.first;
  const bool accept_ready = fds[index++].revents != 0;
  if (slots.has_wake) {
    if (fds[index++].revents != 0) {
      uint64_t count;
      [[maybe_unused]] ssize_t n = read(wake_fd_, &count, sizeof(count));
    }
  }
  for (const auto& connection : slots.connections) {
    const short revents = fds[index++].revents;
    if (revents == 0 || connection->closed) continue;
    // Posts held during a wait go first, so that a sender's order holds.
    if (mode == Mode::kLoop && !stash_.empty()) break;
    // A few frames per connection and round keep one busy sender from
    // paying a poll per frame without starving the others.
    for (int frames = 0; frames < kFramesPerRound; ++frames) {
      if (EndRequested() || connection->closed) break;
      if (mode == Mode::kLoop && !stash_.empty()) break;
      if (!ServeOne(mode, connection)) break;
    }
  }
  if (accept_ready) Accept();
}

void WindowImpl::Accept() {
  for (;;) {
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED) {
        fprintf(stderr, "window %llu: accept failed: %s\n",
                static_cast<unsigned long long>(handle_), strerror(errno));
      }
      return;
    }
    wire::PeerCredentials peer;
    const bool known = wire::GetPeerCredentials(fd, &peer);
    if (!known || (peer.uid != geteuid() && peer.uid != 0 &&
                   static_cast<int64_t>(peer.uid) != manager_uid_)) {
      if (known) {
        fprintf(stderr, "window %llu: refused a connection from pid %u of uid %u; closing it\n",
                static_cast<unsigned long long>(handle_), peer.pid, peer.uid);
      } else {
        fprintf(stderr, "window %llu: refused a connection whose peer is unknown; closing it\n",
                static_cast<unsigned long long>(handle_));
      }
      close(fd);
      continue;
    }
    connections_.push_back(std::make_shared<ServerConnection>(fd, peer.pid));
  }
}

void WindowImpl::Drop(const std::shared_ptr<ServerConnection>& connection) {
  connection->closed = true;
  connections_.erase(std::remove(connections_.begin(), connections_.end(), connection),
                     connections_.end());
}

bool WindowImpl::ServeOne(Mode mode, const std::shared_ptr<ServerConnection>& connection) {
  if (!buffer_) buffer_.reset(new std::byte[wire::kMaxFrame]);
  size_t length = 0;
  const wire::ReceiveStatus status =
      wire::ReceiveDatagram(connection->fd, {buffer_.get(), wire::kMaxFrame}, &length);
  auto reject = [&](const char* reason) {
    fprintf(stderr, "window %llu: dropped a frame from pid %u (%s); closing that connection\n",
            static_cast<unsigned long long>(handle_), connection->peer_pid, reason);
    Drop(connection);
  };
  switch (status) {
    case wire::ReceiveStatus::kEmpty:
      return false;
    case wire::ReceiveStatus::kClosed:
      Drop(connection);
      return false;
    case wire::ReceiveStatus::kOversized:
      reject("larger than the frame limit");
      return true;
    case wire::ReceiveStatus::kFrame:
      break;
  }
  wire::Header header;
  const wire::DecodeResult decoded =
      wire::DecodeFrame(std::span<const std::byte>(buffer_.get(), length), &header);
  if (decoded != wire::DecodeResult::kOk) {
    reject(wire::DescribeDecodeResult(decoded));
    return true;
  }
  if (header.kind == wire::Kind::kReply) {
    reject("a reply sent to a window");
    return true;
  }
  if (header.target != handle_) {
    reject("addressed to another window");
    return true;
  }
  if (header.kind == wire::Kind::kPost) {
    if (header.msg == kWmCopyData) {
      // Its lParam would be taken for a COPYDATASTRUCT address on Win32,
      // where posting it fails; it is never dispatched.
      fprintf(stderr, "window %llu: dropped a posted WM_COPYDATA from pid %u\n",
              static_cast<unsigned long long>(handle_), connection->peer_pid);
      return true;
    }
    if (mode == Mode::kSendsOnly) {
      stash_.push_back({header.msg, header.w_param, header.l_param});
    } else {
      handler_.OnPost(header.msg, header.w_param, header.l_param);
    }
    return true;
  }
  // A send. The handler may wait for a reply itself and read more frames,
  // so this frame's buffer moves out for the call and comes back after.
  std::unique_ptr<std::byte[]> frame = std::move(buffer_);
  const CopyData copy{header.dw_data,
                      std::span<const std::byte>(frame.get() + wire::kHeaderSize, header.cb_data)};
  const LResult result = handler_.OnSend(header.msg, header.w_param, header.l_param, copy);
  if (!buffer_) buffer_ = std::move(frame);
  if (connection->closed) return true;  // the sender is gone: nobody to answer
  wire::Header reply;
  reply.kind = wire::Kind::kReply;
  reply.sequence = header.sequence;
  reply.target = header.target;
  reply.msg = header.msg;
  reply.l_param = result;
  const int error = wire::SendFrame(connection->fd, reply, {});
  if (error != 0 && error != EPIPE && error != ECONNRESET) {
    fprintf(stderr, "window %llu: cannot reply to pid %u: %s\n",
            static_cast<unsigned long long>(handle_), connection->peer_pid, strerror(error));
  }
  // Its sender waits for this reply, so nothing more can be queued on this
  // connection yet: reading again would only cost a call.
  return false;
}

}  // namespace posix
}  // namespace platform
