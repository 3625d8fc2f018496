// The POSIX window behind platform::Window, and what the send path needs
// from it: while a thread waits for a reply, the windows it owns keep
// answering messages sent to them.
#pragma once

#include <poll.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/window.h"
#include "wire_frame.h"

namespace platform::posix {

// One accepted connection. Shared so that a handler running for a frame of
// this connection can still reply after a nested wait dropped it.
struct ServerConnection {
  explicit ServerConnection(int descriptor, uint32_t pid) : fd(descriptor), peer_pid(pid) {}
  ~ServerConnection();
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;
  int fd;
  uint32_t peer_pid;
  bool closed = false;
};

class WindowImpl final : public Window {
 public:
  // How the descriptors of a window are served: by its own loop, or by a
  // thread of its owner that waits for a reply (sends only; posts wait).
  enum class Mode { kLoop, kSendsOnly };

  // Where this window's descriptors sit in a poll set.
  struct PollSlots {
    size_t first = 0;
    bool has_wake = false;
    bool has_connections = false;
    std::vector<std::shared_ptr<ServerConnection>> connections;
  };

  // `manager_uid`: a user besides the owner's and root whose processes may
  // drive the window; -1 for none.
  WindowImpl(WindowHandler& handler, WindowHandle handle, int listen_fd, int wake_fd,
             int64_t manager_uid);
  ~WindowImpl() override;

  WindowHandle handle() const override { return listen_fd_ < 0 ? 0 : handle_; }
  LResult Run() override;
  void End(LResult result) override;
  void Close() override;
  bool SetTimer(uint64_t timer_id, uint32_t period_ms) override;
  bool KillTimer(uint64_t timer_id) override;
  void Invoke(std::function<void()> fn) override;
  void PostLocal(uint32_t msg, WParam w_param, LParam l_param) override;

  void AddPollFds(Mode mode, std::vector<pollfd>* fds, PollSlots* slots);
  void HandlePoll(Mode mode, const std::vector<pollfd>& fds, const PollSlots& slots);

  // The windows owned by the calling thread.
  static std::vector<WindowImpl*>& ThreadWindows();

 private:
  struct Posted {
    uint32_t msg;
    WParam w_param;
    LParam l_param;
  };
  struct Timer {
    std::chrono::milliseconds period;
    std::chrono::steady_clock::time_point due;
  };

  bool EndRequested() const { return end_requested_.load(std::memory_order_acquire); }
  void Wake();  // with mutex_ held
  void Accept();
  // Reads and handles one frame; answers whether reading on this connection
  // now may find more (false when it was empty, closed, or held a send).
  bool ServeOne(Mode mode, const std::shared_ptr<ServerConnection>& connection);
  void Drop(const std::shared_ptr<ServerConnection>& connection);
  bool RunOneInvoked();
  void FireDueTimers();
  int PollTimeout() const;

  WindowHandler& handler_;
  const WindowHandle handle_;
  int listen_fd_;  // -1 once closed
  const int wake_fd_;
  const int64_t manager_uid_;
  std::vector<std::shared_ptr<ServerConnection>> connections_;
  std::deque<Posted> stash_;  // posts read while the owner waited for a reply
  std::map<uint64_t, Timer> timers_;
  // Frames are read with one call into a buffer of the largest frame size,
  // allocated on first use and never cleared: only the pages that frames
  // touched are ever resident.
  std::unique_ptr<std::byte[]> buffer_;

  std::mutex mutex_;
  std::deque<std::function<void()>> invoked_;
  std::atomic<bool> end_requested_{false};
  LResult end_result_ = 0;
};

}  // namespace platform::posix
