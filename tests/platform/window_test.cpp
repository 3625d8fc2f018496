// Windows within one process: the loop, timers, closures, messages between
// threads, a full queue, identity, and frames that break the protocol.
#include "platform/window.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <future>
#include <map>
#include <thread>
#include <vector>

#include "wire_frame.h"

namespace platform {
namespace {

constexpr uint32_t kTestMsg = kWmUser + 0x40;

// A handler made of functions, for tests that need only some of them.
struct FnHandler : WindowHandler {
  std::function<void(uint32_t, WParam, LParam)> post;
  std::function<LResult(uint32_t, WParam, LParam, const CopyData&)> send;
  std::function<void(uint64_t)> timer;
  void OnPost(uint32_t m, WParam w, LParam l) override {
    if (post) post(m, w, l);
  }
  LResult OnSend(uint32_t m, WParam w, LParam l, const CopyData& c) override {
    return send ? send(m, w, l, c) : 0;
  }
  void OnTimer(uint64_t id) override {
    if (timer) timer(id);
  }
};

// A window created and run on a thread of its own.
class WindowThread {
 public:
  explicit WindowThread(WindowHandler& handler) {
    std::promise<Window*> created;
    thread_ = std::thread([&] {
      auto window = Window::Create(handler);
      created.set_value(window.get());
      if (window) result_ = window->Run();
    });
    window_ = created.get_future().get();
  }
  ~WindowThread() {
    if (window_) window_->End(0);
    thread_.join();
  }
  Window& window() { return *window_; }
  WindowHandle handle() const { return window_->handle(); }

 private:
  Window* window_ = nullptr;
  std::thread thread_;
  LResult result_ = 0;
};

std::span<const std::byte> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

TEST(WindowLoop, EndAnswersItsResultAndInvokedWorkRunsInOrderOnTheOwner) {
  FnHandler handler;
  std::vector<int> seen;
  const auto owner = std::this_thread::get_id();
  bool all_on_owner = true;
  handler.post = [&](uint32_t msg, WParam w, LParam) {
    all_on_owner = all_on_owner && std::this_thread::get_id() == owner;
    if (msg == kTestMsg) seen.push_back(static_cast<int>(w));
  };
  auto window = Window::Create(handler);
  ASSERT_TRUE(window);
  EXPECT_GE(window->handle(), 1u);
  EXPECT_LT(window->handle(), 1u << 31);

  std::thread other([&] {
    for (int i = 0; i < 200; ++i) {
      if (i % 2) {
        window->PostLocal(kTestMsg, i, 0);
      } else {
        window->Invoke([&, i] {
          all_on_owner = all_on_owner && std::this_thread::get_id() == owner;
          seen.push_back(i);
        });
      }
    }
    window->Invoke([&] { window->End(42); });
  });
  EXPECT_EQ(window->Run(), 42);
  other.join();
  ASSERT_EQ(seen.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(seen[i], i);
  EXPECT_TRUE(all_on_owner);

  // End before Run: Run answers at once; the request is then cleared, so
  // the next Run waits for its own End.
  window->End(7);
  window->End(8);  // the first End wins
  EXPECT_EQ(window->Run(), 7);
  window->Invoke([&] { window->End(9); });
  EXPECT_EQ(window->Run(), 9);
}

TEST(WindowTimers, FireWithTheirIdsAndStopWhenKilled) {
  FnHandler handler;
  std::map<uint64_t, int> fired;
  std::unique_ptr<Window> window;
  handler.timer = [&](uint64_t id) {
    ++fired[id];
    if (id == 7 && fired[7] == 4) {
      EXPECT_TRUE(window->KillTimer(7));
    }
    // Killing another timer from a handler stops it at once, even when it
    // was due in the same round.
    if (id == 9 && fired[9] == 3) window->KillTimer(11);
    if (id == 9 && fired[9] == 6) window->End(1);
  };
  window = Window::Create(handler);
  ASSERT_TRUE(window);
  EXPECT_FALSE(window->SetTimer(5, 0));
  EXPECT_FALSE(window->KillTimer(5));
  EXPECT_TRUE(window->SetTimer(7, 5));
  EXPECT_TRUE(window->SetTimer(9, 20));
  EXPECT_TRUE(window->SetTimer(11, 20));
  EXPECT_TRUE(window->SetTimer(12, 1000000));
  EXPECT_TRUE(window->KillTimer(12));
  EXPECT_EQ(window->Run(), 1);
  EXPECT_EQ(fired[7], 4);
  EXPECT_EQ(fired[9], 6);
  // Timer 11 was set just after 9 with the same period, so it is never due
  // before 9: it fired twice, and its third time was stopped by the kill.
  EXPECT_EQ(fired[11], 2);
  EXPECT_EQ(fired.count(5), 0u);
  EXPECT_EQ(fired.count(12), 0u);
  EXPECT_FALSE(window->KillTimer(7));
}

TEST(WindowMessages, PostsAndSendsBetweenThreadsArriveInOrderWithTheirData) {
  FnHandler handler;
  std::vector<LParam> posts;
  std::vector<std::string> payloads;
  handler.post = [&](uint32_t msg, WParam w, LParam l) {
    EXPECT_EQ(msg, kTestMsg);
    EXPECT_EQ(w, 0x30005u);
    posts.push_back(l);
  };
  handler.send = [&](uint32_t msg, WParam w, LParam, const CopyData& copy) -> LResult {
    EXPECT_EQ(msg, kWmCopyData);
    EXPECT_EQ(w, 4242u);  // the sender's window, as given
    payloads.emplace_back(reinterpret_cast<const char*>(copy.data.data()), copy.data.size());
    // Posts written before this send on the same connection are handled.
    return static_cast<LResult>(posts.size() * 1000 + copy.dw_data);
  };
  WindowThread receiver(handler);
  constexpr int kPosts = 3000;
  for (int i = 0; i < kPosts; ++i) {
    // A full queue refuses a post; the sender waits and tries again.
    while (!PostMessage(receiver.handle(), kTestMsg, 0x30005, -i)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  EXPECT_EQ(SendCopyData(receiver.handle(), 4242, 17, Bytes("hello")), kPosts * 1000 + 17);
  LResult result = -1;
  EXPECT_TRUE(SendCopyDataChecked(receiver.handle(), 4242, 0, {}, &result));
  EXPECT_EQ(result, kPosts * 1000);
  std::promise<void> done;
  receiver.window().Invoke([&] { done.set_value(); });
  done.get_future().wait();
  ASSERT_EQ(posts.size(), static_cast<size_t>(kPosts));
  for (int i = 0; i < kPosts; ++i) ASSERT_EQ(posts[i], -i);
  EXPECT_EQ(payloads, (std::vector<std::string>{"hello", ""}));
  EXPECT_FALSE(PostMessage(receiver.handle(), kWmCopyData, 0, 0)) << "WM_COPYDATA must be sent";
}

// Two windows on two threads whose send handlers send to each other, down
// to depth 0: every level completes because a waiting owner answers sends.
TEST(WindowMessages, WindowsThatSendToEachOtherFromTheirHandlersComplete) {
  FnHandler a_handler, b_handler;
  std::atomic<WindowHandle> a_handle{0}, b_handle{0};
  auto bounce = [](std::atomic<WindowHandle>& self, std::atomic<WindowHandle>& other) {
    return [&self, &other](uint32_t, WParam from, LParam, const CopyData& copy) -> LResult {
      EXPECT_EQ(from, other.load());
      const auto depth = static_cast<uint8_t>(copy.data[0]);
      if (depth == 0) return 1;
      const std::byte next[1] = {static_cast<std::byte>(depth - 1)};
      return SendCopyData(other, self, 0, next) + 1;
    };
  };
  a_handler.send = bounce(a_handle, b_handle);
  b_handler.send = bounce(b_handle, a_handle);
  WindowThread a(a_handler), b(b_handler);
  a_handle = a.handle();
  b_handle = b.handle();

  std::promise<LResult> result;
  a.window().Invoke([&] {
    const std::byte depth[1] = {std::byte{30}};
    result.set_value(SendCopyData(b.handle(), a.handle(), 0, depth));
  });
  auto future = result.get_future();
  if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    // The windows are deadlocked and cannot be torn down: report and leave.
    ADD_FAILURE() << "the two windows deadlocked";
    std::fflush(nullptr);
    _exit(1);
  }
  EXPECT_EQ(future.get(), 31);

  // A window's owner sending to its own window is answered by itself.
  std::promise<LResult> self_result;
  a.window().Invoke([&] {
    const std::byte depth[1] = {std::byte{0}};
    self_result.set_value(SendCopyData(a.handle(), b.handle(), 0, depth));
  });
  EXPECT_EQ(self_result.get_future().get(), 1);
}

TEST(WindowMessages, PostToAFullQueueFailsWithoutBlockingAndLosesNothing) {
  FnHandler handler;
  int received = 0;
  LParam last = -1;
  bool in_order = true;
  std::unique_ptr<Window> window;
  int accepted = 0;
  handler.post = [&](uint32_t, WParam, LParam l) {
    in_order = in_order && l == last + 1;
    last = l;
    if (++received == accepted) window->End(0);
  };
  window = Window::Create(handler);
  ASSERT_TRUE(window);
  // The owner does not run its loop while another thread floods it.
  bool refused = false;
  std::thread sender([&] {
    for (int i = 0; i < 1000000 && !refused; ++i) {
      if (PostMessage(window->handle(), kTestMsg, 0, accepted)) {
        ++accepted;
      } else {
        refused = true;
      }
    }
  });
  sender.join();
  ASSERT_TRUE(refused);
  ASSERT_GT(accepted, 0);
  window->Run();
  EXPECT_EQ(received, accepted);
  EXPECT_TRUE(in_order);
}

TEST(WindowIdentity, IsWindowAndOwnerPidFollowTheWindowsLife) {
  FnHandler handler;
  auto window = Window::Create(handler);
  ASSERT_TRUE(window);
  const WindowHandle handle = window->handle();
  EXPECT_TRUE(IsWindow(handle));
  EXPECT_EQ(GetWindowProcessId(handle), static_cast<uint32_t>(getpid()));

  std::string error;
  EXPECT_EQ(Window::Create(handler, handle, &error), nullptr);
  EXPECT_NE(error.find("taken"), std::string::npos) << error;
  EXPECT_EQ(Window::Create(handler, WindowHandle{1} << 31, &error), nullptr);
  EXPECT_NE(error.find("outside"), std::string::npos) << error;

  window.reset();
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_EQ(GetWindowProcessId(handle), 0u);
  EXPECT_FALSE(PostMessage(handle, kTestMsg, 0, 0));
  LResult result = 5;
  EXPECT_FALSE(SendCopyDataChecked(handle, 0, 0, {}, &result));
  EXPECT_EQ(result, 5);

  // The handle is free again and can be taken by a new window.
  auto again = Window::Create(handler, handle);
  ASSERT_TRUE(again);
  EXPECT_TRUE(IsWindow(handle));
  EXPECT_TRUE(PostMessage(handle, kTestMsg, 0, 0));

  for (WindowHandle bad : {WindowHandle{0}, WindowHandle{1} << 31, ~WindowHandle{0}}) {
    EXPECT_FALSE(IsWindow(bad));
    EXPECT_EQ(GetWindowProcessId(bad), 0u);
    EXPECT_FALSE(PostMessage(bad, kTestMsg, 0, 0));
  }
}

// --- frames that break the protocol, written on raw sockets ---

int RawConnect(WindowHandle handle) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = "hwnd:" + std::to_string(handle);
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
  return fd;
}

std::vector<std::byte> Frame(wire::Header header, size_t payload) {
  header.cb_data = static_cast<uint32_t>(payload);
  std::vector<std::byte> frame(wire::kHeaderSize + payload, std::byte{0x11});
  wire::EncodeHeader(header, std::span<std::byte, wire::kHeaderSize>(frame.data(), 64));
  return frame;
}

void SendRaw(int fd, const std::vector<std::byte>& datagram) {
  ASSERT_EQ(send(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(datagram.size()));
}

// True when the window closed the connection within a few seconds.
bool ClosedByWindow(int fd) {
  pollfd p{fd, POLLIN, 0};
  for (int i = 0; i < 100; ++i) {
    if (poll(&p, 1, 50) > 0 && (p.revents & POLLHUP)) return true;
  }
  return false;
}

TEST(WindowBadInput, BadFramesAreDroppedLoggedAndTheirConnectionClosed) {
  FnHandler handler;
  std::mutex mutex;
  std::vector<LParam> dispatched;
  handler.post = [&](uint32_t, WParam, LParam l) {
    std::lock_guard lock(mutex);
    dispatched.push_back(l);
  };
  handler.send = [&](uint32_t, WParam, LParam l, const CopyData&) -> LResult {
    std::lock_guard lock(mutex);
    dispatched.push_back(l);
    return 1;
  };
  testing::internal::CaptureStderr();
  WindowThread window(handler);
  const WindowHandle h = window.handle();

  wire::Header post;
  post.kind = wire::Kind::kPost;
  post.target = h;
  post.msg = kTestMsg;
  post.l_param = 666;  // must never be dispatched
  wire::Header send = post;
  send.kind = wire::Kind::kSend;
  send.msg = kWmCopyData;

  struct Case {
    const char* name;
    std::vector<std::byte> datagram;
  };
  std::vector<Case> cases;
  cases.push_back({"shorter than", Frame(post, 0)});
  cases.back().datagram.resize(40);
  cases.push_back({"shorter than", {}});
  cases.push_back({"wrong magic", Frame(post, 0)});
  cases.back().datagram[0] = std::byte{'X'};
  cases.push_back({"unknown kind", Frame(post, 0)});
  cases.back().datagram[4] = std::byte{9};
  auto mismatch = Frame(send, 100);
  mismatch.resize(80);  // cbData says 100, 16 bytes came
  cases.push_back({"cbData does not match", mismatch});
  auto reply = post;
  reply.kind = wire::Kind::kReply;
  cases.push_back({"reply sent to a window", Frame(reply, 0)});
  auto elsewhere = post;
  elsewhere.target = h == 1 ? 2 : h - 1;
  cases.push_back({"addressed to another window", Frame(elsewhere, 0)});

  for (const Case& c : cases) {
    const int fd = RawConnect(h);
    SendRaw(fd, c.datagram);
    // A good frame right behind the bad one is never dispatched either. It
    // may find the connection already closed (EPIPE), which is fine.
    const auto follower = Frame(post, 0);
    [[maybe_unused]] ssize_t ignored = ::send(fd, follower.data(), follower.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(ClosedByWindow(fd)) << c.name;
    close(fd);
  }

  // A posted WM_COPYDATA is dropped, but the connection stays usable.
  const int fd = RawConnect(h);
  auto posted_copy = post;
  posted_copy.msg = kWmCopyData;
  SendRaw(fd, Frame(posted_copy, 8));
  auto good = send;
  good.l_param = 1;
  good.sequence = 99;
  SendRaw(fd, Frame(good, 5));
  std::vector<std::byte> answer(64);
  ASSERT_EQ(recv(fd, answer.data(), answer.size(), 0), 64);
  wire::Header decoded;
  ASSERT_EQ(wire::DecodeFrame(answer, &decoded), wire::DecodeResult::kOk);
  EXPECT_EQ(decoded.kind, wire::Kind::kReply);
  EXPECT_EQ(decoded.sequence, 99u);
  EXPECT_EQ(decoded.l_param, 1);
  close(fd);

  // The window still serves everyone else.
  EXPECT_EQ(SendCopyData(h, 0, 0, {}), 1);
  const std::string log = testing::internal::GetCapturedStderr();
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(dispatched, (std::vector<LParam>{1, 0}));
  }
  for (const Case& c : cases) EXPECT_NE(log.find(c.name), std::string::npos) << c.name;
  EXPECT_NE(log.find("posted WM_COPYDATA"), std::string::npos);
}

}  // namespace
}  // namespace platform
